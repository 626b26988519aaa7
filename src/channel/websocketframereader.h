// Reads the WebSocket frames a page sends and puts its text messages together, byte by byte as they arrive.
#pragma once

#include <QByteArray>

#include "channel/utf8validator.h"

/// The client side of RFC 6455 as a server must check it: every frame masked, no extension bits, known opcodes,
/// control frames whole and short, fragments in order, text valid UTF-8 across fragment borders, and no message
/// over the size limit. Nothing is kept but the message being put together; its size is checked at each header.
class WebSocketFrameReader
{
public:
    enum class Kind
    {
        NeedMore, // every byte given was used; the next item needs more
        Text,     // a whole text message, in payload (UTF-8)
        Ping,     // payload: the ping's data
        Close,    // the page's close frame: its code in code (1005 when it gave none)
        Failure,  // the page broke the protocol: close with code
    };
    struct Item
    {
        Kind kind = Kind::NeedMore;
        QByteArray payload;
        quint16 code = 0;
    };

    explicit WebSocketFrameReader(qint64 maxMessageSize) : maxMessageSize(maxMessageSize) {}

    /// The next item from the bytes at data (up to end); data moves past what was used. After a Failure data
    /// frames are skipped until the page's close frame; after a close frame (Close, or a Failure in it) or a
    /// length no frame can have, nothing more is read.
    Item next(const char *&data, const char *end);
    /// Whether nothing more is read.
    bool ended() const { return finished; }
    /// From now on data frames are skipped, not kept: after the connector's close frame only the page's close
    /// frame counts.
    void discardMessages() { discarding = true; }

private:
    bool headerComplete() const;
    Item startFrame();
    Item endFrame();
    Item closeItem();
    Item failure(quint16 code);

    const qint64 maxMessageSize;
    bool discarding = false;
    bool finished = false;

    // The frame being read.
    char header[14] = {};
    int headerSize = 0;
    bool inPayload = false;
    bool skipping = false; // the payload of a frame that failed
    bool final = false;
    int opcode = 0;
    qint64 payloadLeft = 0;
    qint64 maskOffset = 0;
    QByteArray control; // a control frame's payload

    // The message being put together from data frames.
    bool inMessage = false;
    bool messageIsText = false;
    qint64 messageSize = 0;
    QByteArray message;
    Utf8Validator utf8;
};
