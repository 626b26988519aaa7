// The frames the connector sends to a page: unmasked, each message in one frame.
#pragma once

#include <QByteArray>

namespace WebSocketFrames {

QByteArray text(const QByteArray &utf8);
/// A close frame with code; without payload for 1005 (the page's close gave no code).
QByteArray close(quint16 code);
QByteArray pong(const QByteArray &payload);

} // namespace WebSocketFrames
