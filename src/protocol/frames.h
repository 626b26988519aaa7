// Builds the two frames the connector sends to the page, as the bytes of one text message.
#pragma once

#include <QByteArray>
#include <QJsonObject>

#include "protocol/socketmessage.h"

/// {"error": code}, in the indented JSON form with a trailing line feed.
QByteArray errorFrame(SocketMessage code);

/// {"message": code, "args": payload}; "args" only when the payload has at least one key.
QByteArray messageFrame(SocketMessage code, const QJsonObject &payload);
