// The opening handshake of a page's WebSocket connection: the browser's request and the connector's answers.
#include "channel/websockethandshake.h"

#include <QCryptographicHash>
#include <QList>
#include <QRegularExpression>

namespace {

// Whether a comma-separated header value lists token, in any case.
bool listsToken(const QByteArray &value, const char *token)
{
    const QList<QByteArray> items = value.split(',');
    for (const QByteArray &item : items) {
        if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isKey(const QByteArray &value)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(value, QByteArray::AbortOnBase64DecodingErrors);
    return decoded && decoded.decoded.size() == 16;
}

WebSocketHandshake badRequest(WebSocketHandshake handshake, const char *fault)
{
    handshake.outcome = WebSocketHandshake::Outcome::BadRequest;
    handshake.fault = QString::fromLatin1(fault);
    return handshake;
}

} // namespace

WebSocketHandshake WebSocketHandshake::read(const QByteArray &received)
{
    WebSocketHandshake handshake;
    const int end = received.indexOf("\r\n\r\n");
    if (end < 0 || end + 4 > maxHeadSize) {
        if (received.size() > maxHeadSize)
            return badRequest(handshake, "request head too large");
        return handshake;
    }
    handshake.headSize = end + 4;
    // Every line with its CR; the empty piece after the last line's LF is left out.
    QList<QByteArray> lines = received.left(end + 2).split('\n');
    lines.removeLast();

    const QList<QByteArray> request = lines.first().trimmed().split(' ');
    if (request.size() != 3)
        return badRequest(handshake, "malformed request line");
    if (request.at(0) != "GET")
        return badRequest(handshake, "not a GET request");
    static const QRegularExpression httpVersion(QStringLiteral("^HTTP/(\\d+)\\.(\\d+)$"));
    const QRegularExpressionMatch version = httpVersion.match(QString::fromLatin1(request.at(2)));
    if (!version.hasMatch())
        return badRequest(handshake, "malformed request line");
    const int major = version.captured(1).toInt();
    if (major < 1 || (major == 1 && version.captured(2).toInt() < 1))
        return badRequest(handshake, "HTTP before 1.1");

    int hosts = 0, keys = 0, origins = 0, versions = 0;
    QByteArray upgrade, connection, protocolVersion;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (!line.endsWith('\r'))
            return badRequest(handshake, "malformed header line");
        const int colon = line.indexOf(':');
        const QByteArray name = line.left(colon).toLower();
        if (colon <= 0 || name.contains(' ') || name.contains('\t'))
            return badRequest(handshake, "malformed header line");
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "host") {
            ++hosts;
        } else if (name == "upgrade") {
            upgrade += ',' + value;
        } else if (name == "connection") {
            connection += ',' + value;
        } else if (name == "sec-websocket-key") {
            ++keys;
            handshake.key = value;
        } else if (name == "sec-websocket-version") {
            ++versions;
            protocolVersion = value;
        } else if (name == "origin") {
            ++origins;
            handshake.origin = QString::fromLatin1(value);
        }
    }
    if (hosts != 1)
        return badRequest(handshake, "no single Host header");
    if (!listsToken(upgrade, "websocket"))
        return badRequest(handshake, "no Upgrade: websocket");
    if (!listsToken(connection, "upgrade"))
        return badRequest(handshake, "no Connection: Upgrade");
    if (keys != 1 || !isKey(handshake.key))
        return badRequest(handshake, "no valid Sec-WebSocket-Key");
    // Two origins would leave the decision to whichever one is read.
    if (origins > 1)
        return badRequest(handshake, "more than one Origin header");
    if (versions != 1 || protocolVersion != "13") {
        handshake.wrongVersion = true;
        return badRequest(handshake, "Sec-WebSocket-Version not 13");
    }
    handshake.outcome = Outcome::Upgrade;
    return handshake;
}

QByteArray WebSocketHandshake::acceptance() const
{
    const QByteArray accept =
        QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: " +
           accept + "\r\n\r\n";
}

QByteArray WebSocketHandshake::refusal(int status) const
{
    QByteArray answer = status == 403 ? "HTTP/1.1 403 Forbidden\r\n" : "HTTP/1.1 400 Bad Request\r\n";
    if (wrongVersion)
        answer += "Sec-WebSocket-Version: 13\r\n";
    return answer + "Connection: close\r\nContent-Length: 0\r\n\r\n";
}
