// Decides from the bytes of the version manifest whether the connector should be updated.
#pragma once

#include <QByteArray>

enum class UpdateDecision
{
    NoUpdate,  // not a manifest, no "version", or a version not above our own
    Optional,  // a higher version; the operator may decline
    Mandatory, // a higher version with "mandatory": true
};

/// Reads the manifest as the download server publishes it: line feeds are dropped before parsing,
/// "version" counts only as a whole number (anything else is 0) and "mandatory" only as the literal true.
UpdateDecision decideUpdate(const QByteArray &manifest, int ownVersion);
