// The WebSocket server the operator's page connects to, holding one page connection at a time.
#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QWebSocketProtocol>

#include <optional>

#include "channel/originpolicy.h"
#include "protocol/socketmessage.h"

class QWebSocket;
class QWebSocketServer;
class QWebSocketCorsAuthenticator;

class OperatorChannel : public QObject
{
    Q_OBJECT

public:
    /// The page's fixed port.
    static constexpr quint16 defaultPort = 1024;
    /// Larger messages or frames from the page close its connection with 1009.
    static constexpr quint64 maxIncomingSize = 1024 * 1024;

    explicit OperatorChannel(QObject *parent = nullptr);

    /// Listens on the port of each address (0: a free port, the same for every address); true when at
    /// least one listens. The policy decides which page origins are served, refused at the handshake,
    /// or held until the operator decides (originDecisionNeeded, then decideOrigin).
    bool startServer(const QList<QHostAddress> &addresses, quint16 port, const OriginPolicy &policy);
    /// The port listened on; 0 before a successful start.
    quint16 serverPort() const { return listeningPort; }

    bool hasPage() const { return !clients.isEmpty(); }

    /// Messages a page sends while its origin waits for the operator are kept up to this count.
    static constexpr int maxHeldMessages = 64;

public slots:
    void sendMessage(SocketMessage code, const QJsonObject &args);
    void sendErrorMessage(SocketMessage code);
    /// The operator's decision about a page origin. Allowed: its most recent waiting page is served from now
    /// on, taking over as a new page does, and its held messages are carried out in order (earlier connections
    /// of that origin are closed with 1000). Blocked: its waiting pages are closed with 1008.
    void decideOrigin(const QString &origin, bool allow);

signals:
    /// A text message from the current page.
    void textMessageReceived(const QString &message);
    /// A new page has become the current page.
    void pageConnected();
    /// A page from an origin nobody decided about waits; asked once per origin until decideOrigin.
    void originDecisionNeeded(const QString &origin);

private slots:
    void newConnection();
    void socketDisconnected();
    void socketError(QWebSocketProtocol::CloseCode code);
    void checkOrigin(QWebSocketCorsAuthenticator *authenticator);

private:
    /// A page whose origin waits for the operator: not served, it takes nothing over and gets no frame.
    struct HeldPage
    {
        QWebSocket *socket = nullptr;
        QStringList messages;
    };

    void admit(QWebSocket *socket);
    void hold(QWebSocket *socket);
    void messageFrom(QWebSocket *socket, const QString &message);
    HeldPage *heldPage(QWebSocket *socket);
    void sendFrame(const QByteArray &frame);

    QWebSocketServer *server = nullptr; // handshakes and page sockets, for every listening address
    QList<QWebSocket *> clients;
    OriginPolicy policy;
    QHash<QString, QList<HeldPage>> held; // by origin
    QSet<QString> asking;                 // origins the operator is being asked about
    quint16 listeningPort = 0;
};
