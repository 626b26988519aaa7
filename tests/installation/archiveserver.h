// A local HTTP(S) server that plays the vendor download server for installation tests and benchmarks.
#pragma once

#include <QAtomicInt>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

/// Serves one file on every GET, in the way the current mode says. Binds 127.0.0.1 on a free port.
/// Lives in the thread that creates it; the settings are read when a request arrives.
class ArchiveServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Mode
    {
        Serve,                 // 200 with Content-Length, the whole file as fast as the peer takes it
        Slow,                  // 200, the file in several pieces with pauses, so progress is reported in steps
        NoLength,              // 200 without Content-Length: the body ends when the connection closes
        Hold,                  // 200, the first half of the file, the rest only after release()
        NotFound,              // 404 with a small HTML page
        Redirect,              // 302 to another path on this server that would serve the file
        CutShort,              // 200 announcing the whole file, half of it, then the connection closes
        Drop,                  // the connection closes without an answer
        ProxyWantsCredentials, // as the workstation's proxy: 407, Basic authentication, to any request
    };
    Q_ENUM(Mode)

    explicit ArchiveServer(QObject *parent = nullptr);

    bool listen();
    /// Serves TLS with this server certificate from now on.
    void setTls(const QSslCertificate &certificate, const QSslKey &key);

    void setFile(const QString &path) { filePath = path; }
    void setMode(Mode newMode) { mode = newMode; }
    /// Lets held answers go on.
    void release();

    /// The base address to configure as "download_server".
    QUrl baseUrl() const;
    int requestCount() const { return requests.loadAcquire(); }
    /// Bytes of the file sent in held answers so far.
    qint64 heldBytesSent() const { return heldBytes.loadAcquire(); }
    QStringList requestedPaths() const { return paths; }

signals:
    void released();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QString filePath;
    Mode mode = Mode::Serve;
    bool tls = false;
    bool isReleased = false;
    QSslCertificate certificate;
    QSslKey key;
    QAtomicInt requests;
    QAtomicInteger<qint64> heldBytes;
    QStringList paths;
    friend class ArchiveResponse;
};
