// Reads a command envelope from the page and decides which device bridge gets it.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <optional>

#include "protocol/appfolder.h"

enum class Device
{
    Audiometry,      // "AUDIOMETRY"
    Polysomnography, // "POLYSOMNO"
};

struct Envelope
{
    Device device = Device::Audiometry;
    AppFolder appFolder; // "appPath" as the page sent it (empty text for a non-string value)
    QJsonObject args;
};

/// The envelope of one text message, parsed as a JSON document from its UTF-8 form, or nothing when the
/// routing must answer INVALID_ARGUMENTS: not a JSON object, "type" or "appPath" absent, "args" not an
/// object with at least one key, an unknown device, or an application folder that is not acceptable.
std::optional<Envelope> parseEnvelope(const QJsonDocument &document);
