// A small HTTP/1.1 server on the loopback address that serves the version manifest to the connector.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

/// Answers every GET with one configured response and keeps the connection open, as a keep-alive server
/// does, so the client's closing of it shows when the client released its network manager.
class ManifestServer : public QObject
{
    Q_OBJECT

public:
    explicit ManifestServer(QObject *parent = nullptr);

    bool listen();
    /// Stops listening, so later connections are refused.
    void close() { server.close(); }
    /// "http://127.0.0.1:<port>", as the "download_server" key takes it.
    QUrl url() const;

    void setResponse(int status, const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &headers = {});

    /// The target of every request received, in order.
    QStringList requestedPaths;
    int connectionsOpened = 0;
    int connectionsClosed = 0;

private:
    void readRequests(QTcpSocket *socket);
    void answer(QTcpSocket *socket);

    QTcpServer server;
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    QHash<QTcpSocket *, QByteArray> buffers;
};
