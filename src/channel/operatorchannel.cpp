// The WebSocket server the operator's page connects to, holding one page connection at a time.
#include "channel/operatorchannel.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

#include "platform/connectorlog.h"
#include "protocol/frames.h"

namespace {

constexpr quint16 closeNormal = 1000;
constexpr quint16 closePolicy = 1008;

// The whole text: Qt 5's QString::fromUtf8 of a QByteArray would end it at a NUL character.
QString text(const QByteArray &utf8)
{
    return QString::fromUtf8(utf8.constData(), utf8.size());
}

} // namespace

OperatorChannel::OperatorChannel(QObject *parent) : QObject(parent) {}

void OperatorChannel::setClock(const Clock *newClock)
{
    clock = newClock ? newClock : &realClock;
}

bool OperatorChannel::startServer(const QList<QHostAddress> &addresses, quint16 port, const OriginPolicy &originPolicy)
{
    policy = originPolicy;

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
                auto *page = new PageConnection(socket, qint64(maxIncomingSize), timing, this);
                connect(page, &PageConnection::handshakeRequested, this, [this, page] { handshakeRequested(page); });
                connect(page, &PageConnection::handshakeFailed, this,
                        [this, page](const QString &what) { handshakeLog.failed(what, page->origin(), now()); });
            }
        });
    }
    return listeningPort != 0;
}

void OperatorChannel::handshakeRequested(PageConnection *page)
{
    const QString origin = page->origin();
    switch (policy.verdict(origin)) {
    case OriginPolicy::Verdict::Refuse:
        refuse(page, QStringLiteral("HTTP 403"));
        return;
    case OriginPolicy::Verdict::Serve:
        newConnection(page);
        admit(page);
        return;
    case OriginPolicy::Verdict::Ask:
        break;
    }
    // One question shown and eight waiting at most: a page cannot flood the operator's screen.
    if (!asking.contains(origin) && asking.size() + questionsElsewhere() >= maxOpenQuestions) {
        refuse(page, QStringLiteral("HTTP 403, too many questions to the operator"));
        return;
    }
    newConnection(page);
    // An unknown page must not push the clinic's page off before the operator lets it in.
    if (heldPages < maxHeldPages) {
        hold(page);
        return;
    }
    qCWarning(connectorLog) << "Page closed (1008): too many pages wait for the operator, origin"
                            << LoggedOrigin{origin};
    page->close(closePolicy);
}

void OperatorChannel::refuse(PageConnection *page, const QString &why)
{
    handshakeLog.failed(QStringLiteral("Handshake refused (%1)").arg(why), page->origin(), now());
    page->refuse(403);
}

void OperatorChannel::newConnection(PageConnection *page)
{
    qDebug() << "New connection...";
    page->accept();
    connect(page, &PageConnection::textMessageReceived, this,
            [this, page](const QByteArray &message) { messageFrom(page, message); });
    connect(page, &PageConnection::disconnected, this, &OperatorChannel::socketDisconnected);
    qCInfo(connectorLog) << "Page connected, origin" << LoggedOrigin{page->origin()};
}

void OperatorChannel::admit(PageConnection *socket)
{
    for (int i = 0; i < clients.size(); ++i) {
        clients.at(i)->close(closeNormal);
        qDebug() << "Close an old socket connection.";
        qCInfo(connectorLog) << "Previous page closed: a new page takes over";
    }
    clients.clear();
    clients.append(socket);
    emit pageConnected();
}

void OperatorChannel::hold(PageConnection *socket)
{
    const QString origin = socket->origin();
    qCInfo(connectorLog) << "Page origin waits for the operator's decision:" << LoggedOrigin{origin};
    held[origin].append(HeldPage{socket, {}, 0});
    ++heldPages;
    // One question per origin, however often its page reconnects meanwhile.
    if (!asking.contains(origin)) {
        asking.insert(origin);
        emit originDecisionNeeded(origin);
    }
}

OperatorChannel::HeldPage *OperatorChannel::heldPage(PageConnection *socket)
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

void OperatorChannel::messageFrom(PageConnection *socket, const QByteArray &message)
{
    HeldPage *page = heldPage(socket);
    if (page)
        holdMessage(page, message);
    else if (clients.contains(socket))
        emit textMessageReceived(text(message));
}

void OperatorChannel::holdMessage(HeldPage *page, const QByteArray &message)
{
    if (page->messages.size() >= maxHeldMessages) {
        qCWarning(connectorLog) << "Message of a waiting page dropped: too many held";
        return;
    }
    if (heldBytes + message.size() > maxHeldBytes) {
        // The page that would go beyond is closed, not an earlier one: a flood cannot push another page out.
        qCWarning(connectorLog) << "Page closed (1008): the messages of pages waiting for the operator exceed"
                                << maxHeldBytes << "bytes, origin" << LoggedOrigin{page->socket->origin()};
        PageConnection *socket = page->socket;
        release(socket);
        socket->close(closePolicy);
        return;
    }
    page->messages.append(HeldMessage{message, now()});
    page->bytes += message.size();
    heldBytes += message.size();
}

void OperatorChannel::release(PageConnection *socket)
{
    const QString origin = socket->origin();
    const auto pages = held.find(origin);
    if (pages == held.end())
        return;
    for (auto page = pages->begin(); page != pages->end(); ++page) {
        if (page->socket == socket) {
            heldBytes -= page->bytes;
            --heldPages;
            pages->erase(page);
            break;
        }
    }
    if (!pages->isEmpty())
        return;
    held.erase(pages);
    if (asking.remove(origin)) {
        qCInfo(connectorLog) << "Question about the page origin withdrawn: its pages have gone,"
                             << LoggedOrigin{origin};
        emit originQuestionWithdrawn(origin);
    }
}

void OperatorChannel::decideOrigin(const QString &origin, bool allow, bool lasting)
{
    asking.remove(origin);
    policy.decide(origin, allow, lasting);
    qCInfo(connectorLog) << (allow     ? "Page origin allowed by the operator:"
                             : lasting ? "Page origin blocked by the operator:"
                                       : "Page origin blocked by the operator for this run:")
                         << LoggedOrigin{origin};
    const QList<HeldPage> pages = held.take(origin);
    for (const HeldPage &page : pages) {
        heldBytes -= page.bytes;
        --heldPages;
    }
    for (int i = 0; i < pages.size(); ++i) {
        const HeldPage &page = pages.at(i);
        if (!allow) {
            page.socket->close(closePolicy);
        } else if (i + 1 < pages.size()) {
            // An earlier connection of the same page, superseded by its reconnection: it would be taken over at
            // once, and the answers to its commands would reach the newer one.
            page.socket->close(closeNormal);
        } else {
            admit(page.socket);
            const QDateTime decided = now();
            int stale = 0;
            for (const HeldMessage &message : page.messages) {
                // Too old to be what the operator means now; the page can send it again.
                if (message.received.secsTo(decided) > heldMessageLifetimeSeconds)
                    ++stale;
                else
                    emit textMessageReceived(text(message.text));
            }
            if (stale > 0)
                qCWarning(connectorLog).noquote() << stale << "held message(s) of the page not carried out: waited "
                                                  << "more than" << heldMessageLifetimeSeconds << "s for the operator";
        }
    }
}

void OperatorChannel::socketDisconnected()
{
    auto *socket = qobject_cast<PageConnection *>(sender());
    qDebug() << "socketDisconnected:" << sender();
    if (!socket)
        return;
    qCInfo(connectorLog) << "Page disconnected, close code" << socket->closeCode();
    const bool wasCurrent = clients.removeAll(socket) > 0;
    release(socket);
    socket->deleteLater();
    if (wasCurrent && clients.isEmpty())
        emit pageDisconnected();
}

QString OperatorChannel::currentOrigin() const
{
    return clients.isEmpty() ? QString() : clients.first()->origin();
}

bool OperatorChannel::sendErrorFrame(SocketMessage code)
{
    return sendFrame(errorFrame(code));
}

// The frame leaves first, then its line is written: the page waits for no file. Only the code is logged: a
// payload may carry patient values.
void OperatorChannel::sendErrorMessage(SocketMessage code)
{
    const bool sent = sendErrorFrame(code);
    qCInfo(connectorLog).noquote() << "Error" << int(code) << (sent ? "sent" : "dropped, no page connected");
}

void OperatorChannel::sendMessage(SocketMessage code, const QJsonObject &args)
{
    const bool sent = sendFrame(messageFrame(code, args));
    qCInfo(connectorLog).noquote() << "Message" << int(code) << (sent ? "sent" : "dropped, no page connected");
}

bool OperatorChannel::sendFrame(const QByteArray &frame)
{
    // With no page connected the frame is dropped, not queued.
    if (clients.isEmpty())
        return false;
    clients.first()->sendTextMessage(frame);
    return true;
}
