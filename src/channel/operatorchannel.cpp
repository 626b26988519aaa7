// The WebSocket server the operator's page connects to, holding one page connection at a time.
#include "channel/operatorchannel.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include <algorithm>

#include "platform/connectorlog.h"
#include "protocol/frames.h"

OperatorChannel::OperatorChannel(QObject *parent) : QObject(parent) {}

bool OperatorChannel::startServer(const QList<QHostAddress> &addresses, quint16 port, const OriginPolicy &originPolicy)
{
    policy = originPolicy;

    server = new QWebSocketServer(QString(), QWebSocketServer::NonSecureMode, this);
    connect(server, &QWebSocketServer::newConnection, this, &OperatorChannel::newConnection);
    connect(server, &QWebSocketServer::serverError, this, &OperatorChannel::socketError);
    connect(server, &QWebSocketServer::originAuthenticationRequired, this, &OperatorChannel::checkOrigin);

    for (const QHostAddress &address : addresses) {
        auto *listener = new QTcpServer(this);
        // With port 0 the first address picks a free port and the others take the same one.
        const quint16 wanted = listeningPort != 0 ? listeningPort : port;
        if (!listener->listen(address, wanted)) {
            qCWarning(connectorLog).noquote()
                << "Cannot listen on" << address.toString() << "port" << wanted << ":" << listener->errorString();
            delete listener;
            continue;
        }
        listeningPort = listener->serverPort();
        qCInfo(connectorLog).noquote() << "Listening on" << address.toString() << "port" << listeningPort;
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
    // A page that waits for the operator completes its handshake; it is held in newConnection.
    const bool refused = policy.verdict(authenticator->origin()) == OriginPolicy::Verdict::Refuse;
    if (refused)
        qCWarning(connectorLog) << "Handshake refused (HTTP 403) for the page origin" << authenticator->origin();
    authenticator->setAllowed(!refused);
}

void OperatorChannel::newConnection()
{
    qDebug() << "New connection...";
    QWebSocket *socket = server->nextPendingConnection();
    if (!socket)
        return;
    socket->setMaxAllowedIncomingMessageSize(maxIncomingSize);
    socket->setMaxAllowedIncomingFrameSize(maxIncomingSize);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString &message) { messageFrom(socket, message); });
    connect(socket, &QWebSocket::disconnected, this, &OperatorChannel::socketDisconnected);
    qCInfo(connectorLog) << "Page connected, origin" << socket->origin();

    // An unknown page must not push the clinic's page off before the operator lets it in.
    if (policy.verdict(socket->origin()) == OriginPolicy::Verdict::Ask)
        hold(socket);
    else
        admit(socket);
}

void OperatorChannel::admit(QWebSocket *socket)
{
    for (int i = 0; i < clients.size(); ++i) {
        clients.at(i)->close(QWebSocketProtocol::CloseCodeNormal, QString());
        qDebug() << "Close an old socket connection.";
        qCInfo(connectorLog) << "Previous page closed: a new page takes over";
    }
    clients.clear();
    clients.append(socket);
    emit pageConnected();
}

void OperatorChannel::hold(QWebSocket *socket)
{
    const QString origin = socket->origin();
    qCInfo(connectorLog) << "Page origin waits for the operator's decision:" << origin;
    held[origin].append(HeldPage{socket, {}});
    // One question per origin, however often its page reconnects meanwhile.
    if (!asking.contains(origin)) {
        asking.insert(origin);
        emit originDecisionNeeded(origin);
    }
}

OperatorChannel::HeldPage *OperatorChannel::heldPage(QWebSocket *socket)
{
    const auto pages = held.find(socket->origin());
    if (pages == held.end())
        return nullptr;
    for (HeldPage &page : *pages) {
        if (page.socket == socket)
            return &page;
    }
    return nullptr;
}

void OperatorChannel::messageFrom(QWebSocket *socket, const QString &message)
{
    HeldPage *page = heldPage(socket);
    if (!page) {
        emit textMessageReceived(message);
        return;
    }
    if (page->messages.size() < maxHeldMessages)
        page->messages.append(message);
    else
        qCWarning(connectorLog) << "Message of a waiting page dropped: too many held";
}

void OperatorChannel::decideOrigin(const QString &origin, bool allow)
{
    asking.remove(origin);
    policy.decide(origin, allow);
    qCInfo(connectorLog) << (allow ? "Page origin allowed by the operator:" : "Page origin blocked by the operator:")
                         << origin;
    const QList<HeldPage> pages = held.take(origin);
    for (int i = 0; i < pages.size(); ++i) {
        const HeldPage &page = pages.at(i);
        if (!allow) {
            page.socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QString());
        } else if (i + 1 < pages.size()) {
            // An earlier connection of the same page, superseded by its reconnection: it would be taken over at
            // once, and the answers to its commands would reach the newer one.
            page.socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
        } else {
            admit(page.socket);
            for (const QString &message : page.messages)
                emit textMessageReceived(message);
        }
    }
}

void OperatorChannel::socketDisconnected()
{
    auto *socket = qobject_cast<QWebSocket *>(sender());
    qDebug() << "socketDisconnected:" << sender();
    if (!socket)
        return;
    qCInfo(connectorLog) << "Page disconnected, close code" << socket->closeCode();
    clients.removeAll(socket);
    const auto pages = held.find(socket->origin());
    if (pages != held.end()) {
        pages->erase(std::remove_if(pages->begin(), pages->end(),
                                    [socket](const HeldPage &page) { return page.socket == socket; }),
                     pages->end());
    }
    socket->deleteLater();
}

void OperatorChannel::socketError(QWebSocketProtocol::CloseCode code)
{
    // A refused or failed handshake concerns that one page; the server goes on serving.
    qCWarning(connectorLog) << "Handshake failed, close code" << code << ":" << server->errorString();
}

void OperatorChannel::sendErrorMessage(SocketMessage code)
{
    // The code only: a payload may carry patient values.
    qCInfo(connectorLog).noquote() << "Error" << int(code) << (hasPage() ? "sent" : "dropped, no page connected");
    sendFrame(errorFrame(code));
}

void OperatorChannel::sendMessage(SocketMessage code, const QJsonObject &args)
{
    qCInfo(connectorLog).noquote() << "Message" << int(code) << (hasPage() ? "sent" : "dropped, no page connected");
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
