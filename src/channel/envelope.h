// Reads a command envelope from the page and decides which device bridge gets it.
#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

enum class Device
{
    Audiometry,      // "AUDIOMETRY"
    Polysomnography, // "POLYSOMNO"
};

struct Envelope
{
    Device device = Device::Audiometry;
    QString appPath; // the application path as the page sent it (empty text for a non-string value)
    QJsonObject args;
};

/// The envelope of one text message, or nothing when the routing must answer INVALID_ARGUMENTS:
/// not a JSON object, "type" or "appPath" absent, "args" not an object with at least one key,
/// an unknown device, or an application path that names a network location.
std::optional<Envelope> parseEnvelope(const QString &message);

/// Whether a path names a network location ("\\host\share", "//host/share", or the two mixed).
bool isNetworkPath(const QString &path);
