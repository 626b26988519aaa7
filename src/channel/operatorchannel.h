// The WebSocket server the operator's page connects to, holding one page connection at a time.
#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QWebSocketProtocol>

#include <optional>

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
    /// least one listens. Without an origin list every page origin is accepted; with one, only its exact
    /// entries complete the handshake.
    bool startServer(const QList<QHostAddress> &addresses, quint16 port,
                     const std::optional<QStringList> &allowedOrigins);
    /// The port listened on; 0 before a successful start.
    quint16 serverPort() const { return listeningPort; }

    bool hasPage() const { return !clients.isEmpty(); }

public slots:
    void sendMessage(SocketMessage code, const QJsonObject &args);
    void sendErrorMessage(SocketMessage code);

signals:
    /// A text message from the current page.
    void textMessageReceived(const QString &message);
    /// A new page has become the current page.
    void pageConnected();

private slots:
    void newConnection();
    void socketDisconnected();
    void socketError(QWebSocketProtocol::CloseCode code);
    void checkOrigin(QWebSocketCorsAuthenticator *authenticator);

private:
    void sendFrame(const QByteArray &frame);

    QWebSocketServer *server = nullptr; // handshakes and page sockets, for every listening address
    QList<QWebSocket *> clients;
    std::optional<QStringList> allowedOrigins;
    quint16 listeningPort = 0;
};
