// The opening handshake of a page's WebSocket connection: the browser's request and the connector's answers.
#pragma once

#include <QByteArray>
#include <QString>

/// A request as RFC 6455 has a client open a connection: GET over HTTP/1.1 or later, a Host, "Upgrade: websocket",
/// "Connection: Upgrade", a key of 16 bytes in base64 and version 13. Anything else is a bad request (HTTP 400).
struct WebSocketHandshake
{
    enum class Outcome
    {
        Incomplete, // the request head has not ended yet
        Upgrade,    // a valid request
        BadRequest, // see fault
    };

    /// A longer request head is a bad request; browsers send a few hundred bytes, cookies included.
    static constexpr int maxHeadSize = 32 * 1024;

    Outcome outcome = Outcome::Incomplete;
    /// Bytes of the request head, its blank line included; what follows is the page's first frames.
    int headSize = 0;
    QByteArray key;
    /// The Origin header as sent; empty when there is none (a program, not a browser).
    QString origin;
    /// Why the request is bad, for the log.
    QString fault;
    /// The request asked for another protocol version (or none): the answer names the one the connector speaks.
    bool wrongVersion = false;

    static WebSocketHandshake read(const QByteArray &received);
    /// The answer that opens the connection.
    QByteArray acceptance() const;
    /// An answer that ends the connection: 400 for a bad request, 403 for a refused origin.
    QByteArray refusal(int status) const;
};
