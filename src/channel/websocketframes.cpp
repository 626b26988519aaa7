// The frames the connector sends to a page: unmasked, each message in one frame.
#include "channel/websocketframes.h"

#include <QtEndian>

namespace {

QByteArray frame(uchar opcode, const QByteArray &payload)
{
    const qint64 size = payload.size();
    QByteArray bytes;
    bytes.reserve(int(size) + 10);
    bytes.append(char(0x80 | opcode));
    uchar length[8];
    if (size < 126) {
        bytes.append(char(size));
    } else if (size <= 0xFFFF) {
        bytes.append(char(126));
        qToBigEndian<quint16>(quint16(size), length);
        bytes.append(reinterpret_cast<const char *>(length), 2);
    } else {
        bytes.append(char(127));
        qToBigEndian<quint64>(quint64(size), length);
        bytes.append(reinterpret_cast<const char *>(length), 8);
    }
    bytes.append(payload);
    return bytes;
}

} // namespace

namespace WebSocketFrames {

QByteArray text(const QByteArray &utf8)
{
    return frame(0x1, utf8);
}

QByteArray close(quint16 code)
{
    if (code == 1005)
        return frame(0x8, QByteArray());
    uchar payload[2];
    qToBigEndian<quint16>(code, payload);
    return frame(0x8, QByteArray(reinterpret_cast<const char *>(payload), 2));
}

QByteArray pong(const QByteArray &payload)
{
    return frame(0xA, payload);
}

} // namespace WebSocketFrames
