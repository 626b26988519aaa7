// Feeds arbitrary bytes to the page's WebSocket handshake reading and to the frame reader, whole and in pieces.
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

#include "channel/websocketframereader.h"
#include "channel/websockethandshake.h"

namespace {

struct Read
{
    int kind;
    QByteArray payload;
    quint16 code;
    bool operator==(const Read &other) const
    {
        return kind == other.kind && payload == other.payload && code == other.code;
    }
};

// Everything the reader makes of the bytes, given in pieces of at most piece bytes.
QList<Read> readAll(const QByteArray &bytes, int piece)
{
    WebSocketFrameReader reader(64 * 1024);
    QList<Read> items;
    for (int start = 0; start < bytes.size(); start += piece) {
        const QByteArray chunk = bytes.mid(start, piece);
        const char *data = chunk.constData();
        const char *end = data + chunk.size();
        for (;;) {
            const WebSocketFrameReader::Item item = reader.next(data, end);
            if (item.kind == WebSocketFrameReader::Kind::NeedMore)
                break;
            items.append(Read{int(item.kind), item.payload, item.code});
        }
        if (data != end && !reader.ended())
            std::abort(); // bytes left unread although more could be read
    }
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    const WebSocketHandshake handshake = WebSocketHandshake::read(bytes);
    if (handshake.outcome == WebSocketHandshake::Outcome::Upgrade &&
        (handshake.headSize > bytes.size() || handshake.key.size() != 24 ||
         !handshake.acceptance().endsWith("\r\n\r\n")))
        std::abort();

    // Where the bytes are split must not change what is read; and text is always whole UTF-8.
    const QList<Read> whole = readAll(bytes, bytes.size() + 1);
    if (readAll(bytes, 1) != whole || readAll(bytes, 7) != whole)
        std::abort();
    for (const Read &item : whole) {
        if (item.kind == int(WebSocketFrameReader::Kind::Text) &&
            QString::fromUtf8(item.payload.constData(), item.payload.size()).toUtf8() != item.payload)
            std::abort();
    }
    return 0;
}
