// One installation of the audiometry application: download the archive, unpack it, start the installer.
#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <optional>

#include "audiometry/archivewriter.h"
#include "audiometry/audiometrysettings.h"
#include "protocol/socketmessage.h"

/// Sends every frame of its installation itself: 1002 at the start and for each download step, 1003, 1004,
/// then 1009 when the installer starts, or 1006 (download failed) or 1010 (nothing could be started).
class HelixInstallation : public QObject
{
    Q_OBJECT

public:
    enum class Stage
    {
        NotStarted,
        Downloading, // the archive arrives and is handed to the writer
        Storing,     // the transfer has ended; the rest is written and the file committed
        Unpacking,   // 7-Zip runs
        Starting,    // the installer is being started: Windows may be asking for administrator rights
        Finished,    // whichever way
    };

    explicit HelixInstallation(const AudiometrySettings &settings, QObject *parent = nullptr);

    /// Begins the work; every report arrives through the signals, none before this call.
    void start();
    /// Answers a second request while this installation runs: it starts nothing and follows this one.
    void join();
    Stage stage() const { return current; }

    /// The archive's address on the download server.
    static QUrl downloadUrl(const QUrl &downloadServer);
    /// The percentage reported for a download progress step: received * 100 / total, truncated;
    /// none while the total is unknown (-1) or zero.
    static std::optional<qint64> progressPercent(qint64 received, qint64 total);

    /// A 7-Zip that runs longer than this is taken to hang and is ended; the installation then fails.
    static constexpr int unpackTimeoutMs = 10 * 60 * 1000;
    /// A download that receives nothing for this long is abandoned as failed.
    static constexpr int transferTimeoutMs = 60 * 1000;

signals:
    void sendErrorMessage(SocketMessage code);
    void sendMessage(SocketMessage code, QJsonObject payload);
    /// The installation is over, whichever way.
    void finished();

private slots:
    void downloadFinished(QNetworkReply *data);
    void helixZipExtracted(int exitCode);

private:
    void startDownload();
    void reportProgress(qint64 received, qint64 total);
    void storeReceived();
    void archiveCommitted(bool ok);
    void extractHelixSetup(const QString &folder);
    void unpackTimedOut();
    /// Ends the installation with 1010; the reason goes to the log file.
    void fail(const QString &reason);
    void finish();

    AudiometrySettings settings;
    Stage current = Stage::NotStarted;
    QNetworkAccessManager networkManager;
    QString setupFolder;
    // A new file of the connector's own for every installation: "HelixSetup.zip", or a numbered name when that
    // is taken. Until the download is stored it is empty, and it goes when the download fails.
    QString archivePath;
    bool archiveStored = false;
    // The folder the archive is unpacked into, created for it, with a trailing "/".
    QString unpackFolder;
    QPointer<QNetworkReply> download;
    // The archive being downloaded: a temporary file beside archivePath, renamed over it only on success.
    std::unique_ptr<ArchiveWriter> archive;
    bool commitRequested = false;
    QPointer<QProcess> unpacker;
    QTimer unpackTimer;
};

/// Holds the one installation that may run at a time; the router owns it and every bridge asks it.
class InstallationSlot
{
public:
    /// The installation that runs now, if any.
    HelixInstallation *running() const
    {
        return installation && installation->stage() != HelixInstallation::Stage::Finished ? installation.data()
                                                                                           : nullptr;
    }
    void hold(HelixInstallation *started) { installation = started; }

private:
    QPointer<HelixInstallation> installation;
};
