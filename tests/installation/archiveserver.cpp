// A local HTTP(S) server that plays the vendor download server for installation tests and benchmarks.
#include "archiveserver.h"

#include <QFile>
#include <QHostAddress>
#include <QSslSocket>
#include <QTimer>

namespace {
// Below this much unsent data the next piece of the file is read, so a large file is never in memory.
constexpr qint64 sendWindow = 512 * 1024;
constexpr qint64 pieceSize = 64 * 1024;
constexpr int slowPieces = 8;
constexpr int slowPauseMs = 60;
} // namespace

/// One connection: reads the request, answers it as the server's mode says, then closes.
class ArchiveResponse : public QObject
{
public:
    ArchiveResponse(ArchiveServer *server, QTcpSocket *socket) : QObject(socket), server(server), socket(socket)
    {
        connect(socket, &QTcpSocket::readyRead, this, &ArchiveResponse::readRequest);
        connect(socket, &QTcpSocket::bytesWritten, this, &ArchiveResponse::pump);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void readRequest()
    {
        if (answered)
            return;
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        answered = true;
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        const QString path = QString::fromLatin1(words.value(1));
        server->paths.append(path);
        server->requests.ref();
        answer(path);
    }

    void answer(const QString &path)
    {
        const ArchiveServer::Mode mode = server->mode;
        if (mode == ArchiveServer::Mode::Drop) {
            socket->abort();
            return;
        }
        if (mode == ArchiveServer::Mode::ProxyWantsCredentials) {
            socket->write("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"clinic\"\r\n"
                          "Connection: close\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        if (mode == ArchiveServer::Mode::NotFound) {
            const QByteArray page = "<html><body>Not here</body></html>";
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                          QByteArray::number(page.size()) + "\r\n\r\n" + page);
            socket->disconnectFromHost();
            return;
        }
        if (mode == ArchiveServer::Mode::Redirect && !path.startsWith(QLatin1String("/mirror/"))) {
            const QByteArray page = "<html><body>Moved</body></html>";
            socket->write("HTTP/1.1 302 Found\r\nLocation: /mirror/version_1.0.zip\r\nConnection: close\r\n"
                          "Content-Type: text/html\r\nContent-Length: " +
                          QByteArray::number(page.size()) + "\r\n\r\n" + page);
            socket->disconnectFromHost();
            return;
        }

        file.setFileName(server->filePath);
        if (!file.open(QIODevice::ReadOnly)) {
            socket->write("HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        const qint64 size = file.size();
        if (mode == ArchiveServer::Mode::NoLength)
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nConnection: close\r\n\r\n");
        else
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nConnection: close\r\nContent-Length: " +
                          QByteArray::number(size) + "\r\n\r\n");
        held = mode == ArchiveServer::Mode::Hold;
        if (mode == ArchiveServer::Mode::Slow) {
            allowed = 0;
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this, timer, size] {
                allowed = qMin(size, allowed + size / slowPieces + 1);
                if (allowed == size)
                    timer->stop();
                pump();
            });
            timer->start(slowPauseMs);
        } else if (mode == ArchiveServer::Mode::Hold) {
            allowed = size / 2;
            connect(server, &ArchiveServer::released, this, [this, size] {
                allowed = size;
                pump();
            });
            if (server->isReleased)
                allowed = size;
        } else if (mode == ArchiveServer::Mode::CutShort) {
            allowed = size / 2;
            cutShort = true;
        } else {
            allowed = size;
        }
        pump();
    }

    void pump()
    {
        if (!file.isOpen())
            return;
        while (sent < allowed && socket->bytesToWrite() < sendWindow) {
            const QByteArray piece = file.read(qMin(pieceSize, allowed - sent));
            if (piece.isEmpty())
                break;
            socket->write(piece);
            sent += piece.size();
            if (held)
                server->heldBytes.storeRelease(sent);
        }
        if (sent == file.size() || (cutShort && sent == allowed)) {
            file.close();
            socket->disconnectFromHost();
        }
    }

    ArchiveServer *server;
    QTcpSocket *socket;
    QByteArray request;
    bool answered = false;
    QFile file;
    qint64 allowed = 0;
    qint64 sent = 0;
    bool held = false;
    bool cutShort = false;
};

ArchiveServer::ArchiveServer(QObject *parent) : QTcpServer(parent) {}

bool ArchiveServer::listen()
{
    return QTcpServer::listen(QHostAddress::LocalHost, 0);
}

void ArchiveServer::setTls(const QSslCertificate &serverCertificate, const QSslKey &serverKey)
{
    tls = true;
    certificate = serverCertificate;
    key = serverKey;
}

void ArchiveServer::release()
{
    isReleased = true;
    emit released();
}

QUrl ArchiveServer::baseUrl() const
{
    QUrl url;
    url.setScheme(tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(serverPort());
    return url;
}

void ArchiveServer::incomingConnection(qintptr descriptor)
{
    if (!tls) {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        new ArchiveResponse(this, socket);
        return;
    }
    auto *socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    socket->setLocalCertificate(certificate);
    socket->setPrivateKey(key);
    new ArchiveResponse(this, socket);
    socket->startServerEncryption();
}
