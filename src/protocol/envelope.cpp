// Reads a command envelope from the page and decides which device bridge gets it.
#include "protocol/envelope.h"

#include <QJsonDocument>

std::optional<Envelope> parseEnvelope(const QJsonDocument &document)
{
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonObject args = object.value(QLatin1String("args")).toObject();
    if (!object.contains(QLatin1String("type")) || args.isEmpty() || !object.contains(QLatin1String("appPath")))
        return std::nullopt;

    Envelope envelope;
    const QString type = object.value(QLatin1String("type")).toString();
    if (type == QLatin1String("AUDIOMETRY"))
        envelope.device = Device::Audiometry;
    else if (type == QLatin1String("POLYSOMNO"))
        envelope.device = Device::Polysomnography;
    else
        return std::nullopt;

    envelope.appFolder = AppFolder(object.value(QLatin1String("appPath")).toString());
    if (!envelope.appFolder.isAcceptable())
        return std::nullopt;
    envelope.args = args;
    return envelope;
}
