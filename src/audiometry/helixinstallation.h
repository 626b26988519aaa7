// One installation of the audiometry application: download or reuse the archive, unpack it, start the installer.
#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

#include "audiometry/archivewriter.h"
#include "channel/socketmessage.h"

class HelixInstallation : public QObject
{
    Q_OBJECT

public:
    /// The installation that is running now, if any; a second request joins it instead of starting another.
    static HelixInstallation *current();

    explicit HelixInstallation(const QUrl &downloadServer, QObject *parent = nullptr);
    ~HelixInstallation() override;

    /// Begins the work; every report arrives through the signals, none before this call.
    void start();

    /// The archive's address on a download server ("download_server", or the built-in server when empty);
    /// an invalid URL when the server is neither https nor http on a loopback host.
    static QUrl downloadUrl(const QUrl &downloadServer);
    /// The percentage reported for a download progress step: received * 100 / total, truncated;
    /// none while the total is unknown (-1) or zero.
    static std::optional<qint64> progressPercent(qint64 received, qint64 total);

    /// A 7-Zip that runs longer than this is taken to hang and is ended; the installation then fails.
    static constexpr int unpackTimeoutMs = 10 * 60 * 1000;
    /// A download that receives nothing for this long is abandoned as failed.
    static constexpr int transferTimeoutMs = 60 * 1000;

signals:
    /// A message frame of the installation (1003, 1004, 1009).
    void report(SocketMessage code, QJsonObject payload);
    /// Progress of the archive download, for the bridge's percentage report.
    void downloadProgress(qint64 received, qint64 total);
    /// The download failed (network error or an HTTP status other than 2xx); the installation ends.
    void downloadFailed(QNetworkReply::NetworkError code);
    /// Writing, unpacking or finding the installer failed; nothing was started.
    void installFailed();
    /// The installation is over, whichever way.
    void finished();

private slots:
    void downloadFinished(QNetworkReply *data);
    void helixZipExtracted(int exitCode);

private:
    void startDownload();
    void storeReceived();
    void archiveCommitted(bool ok);
    void extractHelixSetup(const QString &folder);
    void unpackerFailedToStart();
    void unpackTimedOut();
    void fail();
    void finish();

    QUrl downloadServer;
    QNetworkAccessManager networkManager;
    QString setupFolder;
    QPointer<QNetworkReply> download;
    bool transferEnded = false;
    bool committing = false;
    // The archive being downloaded: a temporary file beside "HelixSetup.zip", renamed only on success.
    std::unique_ptr<ArchiveWriter> archive;
    QPointer<QProcess> unpacker;
    QTimer unpackTimer;
    bool unpackerKilled = false;
    bool done = false;
};
