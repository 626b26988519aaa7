// The WebSocket server the operator's page connects to, holding one page connection at a time.
#include "channel/operatorchannel.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include "protocol/frames.h"

OperatorChannel::OperatorChannel(QObject *parent) : QObject(parent) {}

bool OperatorChannel::startServer(const QList<QHostAddress> &addresses, quint16 port,
                                  const std::optional<QStringList> &origins)
{
    allowedOrigins = origins;
    if (!allowedOrigins)
        qDebug() << "No allowed_origins configured: pages from every origin are accepted.";

    server = new QWebSocketServer(QString(), QWebSocketServer::NonSecureMode, this);
    connect(server, &QWebSocketServer::newConnection, this, &OperatorChannel::newConnection);
    connect(server, &QWebSocketServer::serverError, this, &OperatorChannel::socketError);
    connect(server, &QWebSocketServer::originAuthenticationRequired, this, &OperatorChannel::checkOrigin);

    for (const QHostAddress &address : addresses) {
        auto *listener = new QTcpServer(this);
        // With port 0 the first address picks a free port and the others take the same one.
        const quint16 wanted = listeningPort != 0 ? listeningPort : port;
        if (!listener->listen(address, wanted)) {
            qDebug() << "Cannot listen on" << address.toString() << "port" << wanted << ":" << listener->errorString();
            delete listener;
            continue;
        }
        listeningPort = listener->serverPort();
        connect(listener, &QTcpServer::newConnection, this, [this, listener] {
            while (QTcpSocket *socket = listener->nextPendingConnection()) {
                // A frame is written as header and payload; without this the payload would wait for the
                // page's delayed acknowledgement, tens of milliseconds per reply.
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                server->handleConnection(socket);
            }
        });
    }
    return listeningPort != 0;
}

void OperatorChannel::checkOrigin(QWebSocketCorsAuthenticator *authenticator)
{
    // Exact comparison: scheme, host and port must all match an entry.
    if (allowedOrigins)
        authenticator->setAllowed(allowedOrigins->contains(authenticator->origin()));
}

void OperatorChannel::newConnection()
{
    qDebug() << "New connection...";
    QWebSocket *socket = server->nextPendingConnection();
    if (!socket)
        return;

    for (int i = 0; i < clients.size(); ++i) {
        clients.at(i)->close(QWebSocketProtocol::CloseCodeNormal, QString());
        qDebug() << "Close an old socket connection.";
    }
    clients.clear();
    clients.append(socket);

    socket->setMaxAllowedIncomingMessageSize(maxIncomingSize);
    socket->setMaxAllowedIncomingFrameSize(maxIncomingSize);
    connect(socket, &QWebSocket::textMessageReceived, this, &OperatorChannel::textMessageReceived);
    connect(socket, &QWebSocket::disconnected, this, &OperatorChannel::socketDisconnected);
    emit pageConnected();
}

void OperatorChannel::socketDisconnected()
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    qDebug() << "socketDisconnected:" << sender();
    if (!socket)
        return;
    clients.removeAll(socket);
    socket->deleteLater();
}

void OperatorChannel::socketError(QWebSocketProtocol::CloseCode code)
{
    // A refused or failed handshake concerns that one page; the server goes on serving.
    qDebug() << "Server error, close code" << code << ":" << server->errorString();
}

void OperatorChannel::sendErrorMessage(SocketMessage code)
{
    sendFrame(errorFrame(code));
}

void OperatorChannel::sendMessage(SocketMessage code, const QJsonObject &args)
{
    sendFrame(messageFrame(code, args));
}

void OperatorChannel::sendFrame(const QByteArray &frame)
{
    // With no page connected the frame is dropped, not queued.
    if (clients.isEmpty())
        return;
    clients.first()->sendTextMessage(QString::fromUtf8(frame));
    // Out on the wire now: the bridge may go on with blocking work (starting a program) right after.
    clients.first()->flush();
}
