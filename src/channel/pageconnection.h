// One page's TCP connection, from its WebSocket handshake to its end.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "channel/websocketframereader.h"
#include "channel/websockethandshake.h"

class QTcpSocket;

/// The server side of RFC 6455 for one page: the handshake (decided by whoever listens to handshakeRequested),
/// text messages in, text frames out, pings answered, and a closing handshake a browser reports as clean.
class PageConnection : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        /// A request that has not arrived by then ends the connection.
        int handshakeTimeoutMs = 10000;
        /// After the connector's close frame, the page has this long to answer or go before the
        /// TCP connection ends; ended at once, its unread input would make the system reset the connection, and
        /// the page would see 1006 instead of the code.
        int lingerMs = 1000;
    };

    /// Takes the socket over.
    PageConnection(QTcpSocket *socket, qint64 maxMessageSize, Timing timing, QObject *parent);

    /// The Origin header of the handshake; empty without one.
    QString origin() const { return handshake.origin; }
    /// Opens the connection (HTTP 101); the page's frames are read from now on.
    void accept();
    /// Answers the handshake with an HTTP status (403) and ends the connection.
    void refuse(int status);
    void sendTextMessage(const QByteArray &utf8);
    /// Sends a close frame with code. What the page sends after it is read and dropped until the page's close
    /// frame or the linger's end, then the TCP connection ends.
    void close(quint16 code);
    /// The code of the close frame that ended the connection, the connector's or the page's; 1006 for none.
    quint16 closeCode() const { return code; }

signals:
    /// A valid request has arrived; the receiver calls accept() or refuse() before it returns (else: 403).
    void handshakeRequested();
    /// No connection came about: a bad request (answered with HTTP 400) or none within the time. what: the
    /// log line's start.
    void handshakeFailed(const QString &what);
    void textMessageReceived(const QByteArray &utf8);
    /// A connection that was opened has ended.
    void disconnected();

private:
    enum class State
    {
        Handshake,
        Open,
        Closing, // after the connector's close frame
        Ended,
    };

    QByteArray readAvailable();
    void readHandshake();
    void readFrames(const QByteArray &bytes);
    void write(const QByteArray &bytes);
    void linger();
    void end();
    void timeUp();
    void socketDisconnected();

    QTcpSocket *socket;
    WebSocketFrameReader reader;
    WebSocketHandshake handshake;
    QByteArray received; // the request head so far
    const Timing timing;
    QTimer timer; // the handshake's time, then the linger
    State state = State::Handshake;
    bool opened = false;
    quint16 code = 1006;
};
