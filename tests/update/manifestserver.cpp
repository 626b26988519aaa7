// A small HTTP/1.1 server on the loopback address that serves the version manifest to the connector.
#include "manifestserver.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 404:
        return "Not Found";
    case 407:
        return "Proxy Authentication Required";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

ManifestServer::ManifestServer(QObject *parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            ++connectionsOpened;
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                ++connectionsClosed;
                buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

bool ManifestServer::listen()
{
    return server.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

QUrl ManifestServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()));
}

void ManifestServer::setResponse(int status, const QByteArray &body,
                                 const QList<QPair<QByteArray, QByteArray>> &headers)
{
    this->status = status;
    this->body = body;
    this->headers = headers;
}

void ManifestServer::readRequests(QTcpSocket *socket)
{
    // Requests carry no body (GET), so each one ends with its blank line.
    QByteArray &pending = buffers[socket];
    pending += socket->readAll();
    int end;
    while ((end = pending.indexOf("\r\n\r\n")) >= 0) {
        const QByteArray head = pending.left(end);
        pending.remove(0, end + 4);
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        requestedPaths.append(QString::fromLatin1(requestLine.value(1)));
        answer(socket);
    }
}

void ManifestServer::answer(QTcpSocket *socket)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    response += "Content-Type: application/json\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto &header : headers)
        response += header.first + ": " + header.second + "\r\n";
    response += "\r\n" + body;
    socket->write(response);
}
