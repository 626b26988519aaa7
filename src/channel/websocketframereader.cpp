// Reads the WebSocket frames a page sends and puts its text messages together, byte by byte as they arrive.
#include "channel/websocketframereader.h"

#include <QtEndian>

#include <cstring>

namespace {

enum Opcode
{
    Continuation = 0x0,
    Text = 0x1,
    Binary = 0x2,
    Close = 0x8,
    Ping = 0x9,
    Pong = 0xA,
};

constexpr quint16 protocolError = 1002;
constexpr quint16 invalidText = 1007;
constexpr quint16 tooBig = 1009;
constexpr quint16 noCode = 1005;
constexpr qint64 maxControlPayload = 125;

// The codes a page may send: those RFC 6455 and its registry define for use in a close frame, and the ranges
// left to libraries and applications.
bool sendableCloseCode(quint16 code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

// XORs the payload with the page's masking key, eight bytes at a time; offset is the position in the frame.
void unmask(char *data, qint64 size, const uchar *key, qint64 offset)
{
    uchar rotated[8];
    for (int i = 0; i < 8; ++i)
        rotated[i] = key[(offset + i) & 3];
    quint64 wideKey;
    std::memcpy(&wideKey, rotated, sizeof wideKey);
    qint64 i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, sizeof word);
        word ^= wideKey;
        std::memcpy(data + i, &word, sizeof word);
    }
    for (; i < size; ++i)
        data[i] = char(uchar(data[i]) ^ key[(offset + i) & 3]);
}

int lengthBytes(char secondByte)
{
    switch (secondByte & 0x7F) {
    case 126:
        return 2;
    case 127:
        return 8;
    default:
        return 0;
    }
}

} // namespace

bool WebSocketFrameReader::headerComplete() const
{
    if (headerSize < 2)
        return false;
    const int maskBytes = (header[1] & 0x80) ? 4 : 0;
    return headerSize >= 2 + lengthBytes(header[1]) + maskBytes;
}

WebSocketFrameReader::Item WebSocketFrameReader::failure(quint16 code)
{
    // The connection is closed with code; until the page's close frame, the rest of this frame and every data
    // frame are skipped.
    discarding = true;
    skipping = true;
    inMessage = false;
    message = QByteArray();
    Item item;
    item.kind = Kind::Failure;
    item.code = code;
    return item;
}

WebSocketFrameReader::Item WebSocketFrameReader::next(const char *&data, const char *end)
{
    while (!finished) {
        if (!inPayload) {
            while (!headerComplete() && data < end)
                header[headerSize++] = *data++;
            if (!headerComplete())
                return {};
            Item started = startFrame();
            if (started.kind != Kind::NeedMore)
                return started;
            if (payloadLeft == 0) {
                Item ended = endFrame();
                if (ended.kind != Kind::NeedMore)
                    return ended;
                continue;
            }
        }
        if (data == end)
            return {};
        const qint64 take = qMin<qint64>(payloadLeft, end - data);
        const auto *key = reinterpret_cast<const uchar *>(header + headerSize - 4);
        const bool checkText = !discarding && !skipping && messageIsText && opcode < Close;
        if (opcode >= Close && !skipping) {
            const int start = control.size();
            control.append(data, int(take));
            unmask(control.data() + start, take, key, maskOffset);
        } else if (checkText) {
            const int start = message.size();
            message.append(data, int(take));
            unmask(message.data() + start, take, key, maskOffset);
        }
        // Binary messages are not listened to, and after a close frame no message counts: skipped.
        data += take;
        payloadLeft -= take;
        maskOffset += take;
        // Checked as it arrives, so a page learns of broken text at once; a character may go on in the next
        // fragment.
        if (checkText && !utf8.feed(message.constData() + message.size() - take, take))
            return failure(invalidText);
        if (payloadLeft == 0) {
            Item ended = endFrame();
            if (ended.kind != Kind::NeedMore)
                return ended;
        }
    }
    return {};
}

WebSocketFrameReader::Item WebSocketFrameReader::startFrame()
{
    const auto first = uchar(header[0]);
    const auto second = uchar(header[1]);
    final = first & 0x80;
    opcode = first & 0x0F;
    skipping = false;
    qint64 length = second & 0x7F;
    if (length == 126) {
        length = qFromBigEndian<quint16>(reinterpret_cast<const uchar *>(header + 2));
    } else if (length == 127) {
        const quint64 wide = qFromBigEndian<quint64>(reinterpret_cast<const uchar *>(header + 2));
        // No frame is read past this: where the next one starts is unknown.
        if (wide >> 63) {
            finished = true;
            return failure(protocolError);
        }
        length = qint64(wide);
    }
    inPayload = true;
    payloadLeft = length;
    maskOffset = 0;

    // No extension was agreed at the handshake, so no reserved bit may be set; and a client masks every frame.
    if ((first & 0x70) || !(second & 0x80))
        return failure(protocolError);
    if (opcode >= Close) {
        if ((opcode != Close && opcode != Ping && opcode != Pong) || !final || length > maxControlPayload)
            return failure(protocolError);
        control.clear();
        return {};
    }
    if (opcode != Continuation && opcode != Text && opcode != Binary)
        return failure(protocolError);
    if (discarding)
        return {};
    // A continuation continues a message, and a new message waits until the last one has ended.
    if ((opcode == Continuation) != inMessage)
        return failure(protocolError);
    if (opcode != Continuation) {
        inMessage = true;
        messageIsText = opcode == Text;
        messageSize = 0;
        message.clear();
        utf8.reset();
    }
    if (messageSize + length > maxMessageSize)
        return failure(tooBig);
    messageSize += length;
    if (messageIsText)
        message.reserve(int(messageSize));
    return {};
}

WebSocketFrameReader::Item WebSocketFrameReader::endFrame()
{
    inPayload = false;
    headerSize = 0;
    if (skipping)
        return {};
    if (opcode >= Close) {
        if (opcode == Close) {
            // Nothing follows a close frame.
            finished = true;
            return closeItem();
        }
        Item item;
        if (opcode == Ping) {
            item.kind = Kind::Ping;
            item.payload = control;
        }
        return item;
    }
    if (!final)
        return {};
    inMessage = false;
    if (discarding || !messageIsText)
        return {};
    if (!utf8.atCharacterEnd())
        return failure(invalidText);
    Item item;
    item.kind = Kind::Text;
    item.payload = message;
    message = QByteArray();
    return item;
}

WebSocketFrameReader::Item WebSocketFrameReader::closeItem()
{
    Item item;
    item.kind = Kind::Close;
    item.code = noCode;
    if (control.isEmpty())
        return item;
    if (control.size() == 1)
        return failure(protocolError);
    item.code = qFromBigEndian<quint16>(reinterpret_cast<const uchar *>(control.constData()));
    if (!sendableCloseCode(item.code))
        return failure(protocolError);
    Utf8Validator reason;
    if (!reason.feed(control.constData() + 2, control.size() - 2) || !reason.atCharacterEnd())
        return failure(invalidText);
    return item;
}
