// Builds the two frames the connector sends to the page, as the bytes of one text message.
#include "protocol/frames.h"

#include <QJsonDocument>

QByteArray errorFrame(SocketMessage code)
{
    // The bytes QJsonDocument writes for {"error": code}, without building a document for every frame.
    return QByteArrayLiteral("{\n    \"error\": ") + QByteArray::number(static_cast<int>(code)) +
           QByteArrayLiteral("\n}\n");
}

QByteArray messageFrame(SocketMessage code, const QJsonObject &payload)
{
    QJsonObject frame;
    frame.insert(QLatin1String("message"), static_cast<int>(code));
    if (!payload.isEmpty())
        frame.insert(QLatin1String("args"), payload);
    return QJsonDocument(frame).toJson(QJsonDocument::Indented);
}
