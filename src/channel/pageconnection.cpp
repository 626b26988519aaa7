// One page's TCP connection, from its WebSocket handshake to its end.
#include "channel/pageconnection.h"

#include <QTcpSocket>

#include "channel/websocketframes.h"

PageConnection::PageConnection(QTcpSocket *socket, qint64 maxMessageSize, Timing timing, QObject *parent)
    : QObject(parent), socket(socket), reader(maxMessageSize), timing(timing)
{
    socket->setParent(this);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &PageConnection::timeUp);
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        if (state == State::Handshake)
            readHandshake();
        else if (opened)
            readFrames(readAvailable());
        else
            readAvailable(); // after a refusal
    });
    connect(socket, &QTcpSocket::disconnected, this, &PageConnection::socketDisconnected);
    timer.start(timing.handshakeTimeoutMs);
    if (socket->bytesAvailable() > 0)
        readHandshake();
}

QByteArray PageConnection::readAvailable()
{
    // Exactly what is there: readAll() on a socket grows its buffer in steps, a cost on every message.
    return socket->read(socket->bytesAvailable());
}

void PageConnection::readHandshake()
{
    received += readAvailable();
    handshake = WebSocketHandshake::read(received);
    switch (handshake.outcome) {
    case WebSocketHandshake::Outcome::Incomplete:
        return;
    case WebSocketHandshake::Outcome::BadRequest:
        emit handshakeFailed(QStringLiteral("Handshake refused (HTTP 400, %1)").arg(handshake.fault));
        write(handshake.refusal(400));
        end();
        return;
    case WebSocketHandshake::Outcome::Upgrade:
        break;
    }
    emit handshakeRequested();
    if (state == State::Handshake)
        refuse(403);
    // A page may send its first frames right behind the request.
    const QByteArray first = received.mid(handshake.headSize);
    received = QByteArray();
    if (opened && !first.isEmpty())
        readFrames(first);
}

void PageConnection::accept()
{
    if (state != State::Handshake)
        return;
    timer.stop();
    write(handshake.acceptance());
    state = State::Open;
    opened = true;
}

void PageConnection::refuse(int status)
{
    if (state != State::Handshake)
        return;
    // The request has been read whole, so the connection can end at once without a reset.
    write(handshake.refusal(status));
    end();
}

void PageConnection::sendTextMessage(const QByteArray &utf8)
{
    if (state == State::Open)
        write(WebSocketFrames::text(utf8));
}

void PageConnection::close(quint16 closeCode)
{
    if (state != State::Open)
        return;
    code = closeCode;
    write(WebSocketFrames::close(closeCode));
    reader.discardMessages();
    linger();
}

void PageConnection::readFrames(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    const char *end = data + bytes.size();
    // Each item may change the state: a message's receiver may close this connection.
    while (state == State::Open || state == State::Closing) {
        const WebSocketFrameReader::Item item = reader.next(data, end);
        switch (item.kind) {
        case WebSocketFrameReader::Kind::NeedMore:
            return;
        case WebSocketFrameReader::Kind::Text:
            if (state == State::Open)
                emit textMessageReceived(item.payload);
            break;
        case WebSocketFrameReader::Kind::Ping:
            if (state == State::Open)
                write(WebSocketFrames::pong(item.payload));
            break;
        case WebSocketFrameReader::Kind::Close:
            // The page's close, or its answer to ours: after it the server ends the TCP connection.
            if (state == State::Open) {
                code = item.code;
                write(WebSocketFrames::close(item.code));
            }
            this->end();
            return;
        case WebSocketFrameReader::Kind::Failure:
            // Read on after the close frame: the rest of these bytes may hold the page's answer.
            if (state == State::Open && !reader.ended()) {
                close(item.code);
                break;
            }
            // A broken close frame of the page, or a second fault: nothing more is read.
            if (state == State::Open)
                close(item.code);
            this->end();
            return;
        }
    }
}

void PageConnection::write(const QByteArray &bytes)
{
    socket->write(bytes);
    // Out on the wire now: the connector may go on with blocking work (starting a program) right after.
    socket->flush();
}

void PageConnection::linger()
{
    state = State::Closing;
    timer.start(timing.lingerMs);
}

void PageConnection::end()
{
    state = State::Ended;
    // A page that reads nothing would keep the connection in its closing state for ever: cut after the linger.
    timer.start(timing.lingerMs);
    socket->disconnectFromHost();
}

void PageConnection::timeUp()
{
    switch (state) {
    case State::Handshake:
        emit handshakeFailed(QStringLiteral("Handshake not completed within %1 s, connection ended")
                                 .arg(double(timing.handshakeTimeoutMs) / 1000));
        state = State::Ended;
        socket->abort();
        deleteLater();
        break;
    case State::Open:
        break;
    case State::Closing:
        end();
        break;
    case State::Ended:
        socket->abort();
        break;
    }
}

void PageConnection::socketDisconnected()
{
    state = State::Ended;
    timer.stop();
    if (opened)
        emit disconnected();
    else
        deleteLater();
}
