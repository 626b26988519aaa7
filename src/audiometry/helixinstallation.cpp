// One installation of the audiometry application: download or reuse the archive, unpack it, start the installer.
#include "audiometry/helixinstallation.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QStandardPaths>

#include "app/configuration.h"
#include "platform/unpacker.h"

namespace {

HelixInstallation *runningInstallation = nullptr;

const QLatin1String archiveName("HelixSetup.zip");
const QLatin1String unpackFolderName("HelixSetup/");
const QLatin1String installerName("HelixSetup/HelixSetup.exe");

// The network layer holds at most this much of the body before the archive file has taken it,
// so memory stays flat whatever the archive's size.
constexpr qint64 readBufferBytes = 1024 * 1024;
// Pieces handed to the archive writer and not yet on disk; beyond this the reply is not read.
constexpr qint64 writeBacklogBytes = 4 * 1024 * 1024;

bool isSuccessStatus(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

} // namespace

HelixInstallation *HelixInstallation::current()
{
    return runningInstallation;
}

HelixInstallation::HelixInstallation(const QUrl &downloadServer, QObject *parent)
    : QObject(parent), downloadServer(downloadServer)
{
    unpackTimer.setSingleShot(true);
    unpackTimer.setInterval(unpackTimeoutMs);
    connect(&unpackTimer, &QTimer::timeout, this, &HelixInstallation::unpackTimedOut);
}

HelixInstallation::~HelixInstallation()
{
    if (runningInstallation == this)
        runningInstallation = nullptr;
}

QUrl HelixInstallation::downloadUrl(const QUrl &downloadServer)
{
    const QUrl server = downloadServer.isEmpty() ? defaultDownloadServer() : downloadServer;
    if (!isAcceptableDownloadServer(server))
        return {};
    QUrl url = server;
    url.setPath(QStringLiteral("/audiometry/helix/version_1.0.zip"));
    return url;
}

std::optional<qint64> HelixInstallation::progressPercent(qint64 received, qint64 total)
{
    if (total <= 0)
        return std::nullopt;
    return received * 100 / total;
}

void HelixInstallation::start()
{
    runningInstallation = this;
    setupFolder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QLatin1Char('/');
    if (QFileInfo::exists(setupFolder + archiveName)) {
        // An archive from an earlier installation; only successful downloads ever get this name.
        emit report(HELIX_EXTRACTION_STARTED, QJsonObject{{QStringLiteral("percent"), 0}});
        extractHelixSetup(setupFolder);
        return;
    }
    startDownload();
}

void HelixInstallation::startDownload()
{
    const QUrl url = downloadUrl(downloadServer);
    if (!url.isValid()) {
        emit downloadFailed(QNetworkReply::ProtocolUnknownError);
        finish();
        return;
    }

    // The desktop may not exist yet on a fresh profile; the archive is written there.
    QDir().mkpath(setupFolder);
    archive = std::make_unique<ArchiveWriter>();
    if (!archive->open(setupFolder + archiveName)) {
        archive.reset();
        fail();
        return;
    }
    connect(archive.get(), &ArchiveWriter::written, this, &HelixInstallation::storeReceived);
    connect(archive.get(), &ArchiveWriter::writeFailed, this, [this] {
        // A full disk: the installation ends here, and there is no point in fetching the rest.
        archive.reset();
        fail();
        if (download)
            download->abort();
    });
    connect(archive.get(), &ArchiveWriter::committed, this, &HelixInstallation::archiveCommitted);

    QNetworkRequest request(url);
    // A redirect answer is a failed download; Qt 6 would follow it unless told otherwise.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(transferTimeoutMs);
    download = networkManager.get(request);
    download->setReadBufferSize(readBufferBytes);
    connect(&networkManager, &QNetworkAccessManager::finished, this, &HelixInstallation::downloadFinished);
    connect(download, &QNetworkReply::readyRead, this, &HelixInstallation::storeReceived);
    connect(download, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        // An error page's size is no progress of the archive.
        if (download && isSuccessStatus(download))
            emit downloadProgress(received, total);
    });
}

void HelixInstallation::storeReceived()
{
    if (done || !download || !archive)
        return;
    if (!isSuccessStatus(download)) {
        download->readAll(); // an error page, dropped
        return;
    }
    // Only as much as the writer keeps up with is taken from the reply; the rest waits in the network layer,
    // which then stops reading from the server.
    while (download->bytesAvailable() > 0 && archive->backlog() < writeBacklogBytes)
        archive->write(download->read(readBufferBytes));
    if (transferEnded && download->bytesAvailable() == 0 && !committing) {
        committing = true;
        archive->commit();
    }
}

void HelixInstallation::downloadFinished(QNetworkReply *data)
{
    if (data != download || done)
        return;
    if (data->error() != QNetworkReply::NoError || !isSuccessStatus(data)) {
        // Redirects are not followed, so a 3xx ends here too, without an error code of its own.
        const QNetworkReply::NetworkError code =
            data->error() != QNetworkReply::NoError ? data->error() : QNetworkReply::UnknownContentError;
        archive.reset(); // discards the temporary file
        data->deleteLater();
        emit downloadFailed(code);
        finish();
        return;
    }
    emit report(HELIX_DOWNLOAD_FINISHED, QJsonObject{{QStringLiteral("folder"), setupFolder}});
    transferEnded = true;
    storeReceived(); // what is left in the reply, then the commit
}

void HelixInstallation::archiveCommitted(bool ok)
{
    if (done || !archive)
        return; // a report of a writer that is gone
    archive.reset();
    if (download)
        download->deleteLater();
    if (!ok) {
        fail();
        return;
    }
    emit report(HELIX_EXTRACTION_STARTED, QJsonObject());
    extractHelixSetup(setupFolder);
}

void HelixInstallation::extractHelixSetup(const QString &folder)
{
    setupFolder = folder;
    // Files of an earlier unpacking that this archive does not hold must not mix with its own.
    QDir unpackFolder(folder + unpackFolderName);
    if (unpackFolder.exists())
        unpackFolder.removeRecursively();
    emit report(HELIX_EXTRACTION_STARTED, QJsonObject{{QStringLiteral("folder"), folder}});

    const QString program = unpackerProgram();
    // "-y" answers every question with yes: 7-Zip would otherwise wait on its input for an answer.
    const QStringList arguments{QStringLiteral("x"), folder + archiveName,
                                QStringLiteral("-o") + folder + unpackFolderName, QStringLiteral("-r"),
                                QStringLiteral("-y")};
    qDebug().noquote() << QStringLiteral("Start command: ") + (QStringList{program} + arguments).join(QLatin1Char(' '));

    unpacker = new QProcess(this);
    // Nothing to read from: a password question ends at once instead of waiting forever.
    unpacker->setStandardInputFile(QProcess::nullDevice());
    // The file list is of no use; 7-Zip's complaints go to the connector's own error output.
    unpacker->setStandardOutputFile(QProcess::nullDevice());
    unpacker->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(unpacker, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &HelixInstallation::helixZipExtracted);
    connect(unpacker, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            unpackerFailedToStart();
    });
    unpackerKilled = false;
    unpackTimer.start();
    unpacker->start(program, arguments);
}

void HelixInstallation::unpackerFailedToStart()
{
    unpackTimer.stop();
    if (unpacker)
        unpacker->deleteLater();
    fail();
}

void HelixInstallation::unpackTimedOut()
{
    if (!unpacker)
        return;
    unpackerKilled = true;
    unpacker->kill(); // its completion follows as a crash and fails the installation
}

void HelixInstallation::helixZipExtracted(int exitCode)
{
    unpackTimer.stop();
    qDebug() << "Zip extraction status:" << exitCode;
    bool unpacked = exitCode == 0 && !unpackerKilled;
    if (unpacker) {
        unpacked = unpacked && unpacker->exitStatus() == QProcess::NormalExit;
        unpacker->deleteLater();
    }
    if (!unpacked) {
        fail();
        return;
    }

    const QString installer = setupFolder + installerName;
    if (!QFileInfo(installer).isFile()) {
        fail();
        return;
    }
    emit report(HELIX_SETUP_STARTED, QJsonObject{{QStringLiteral("path"), installer}});
    // The installer runs in its own folder, where it may look for the files that came with it.
    if (!QProcess::startDetached(installer, {}, setupFolder + unpackFolderName)) {
        fail();
        return;
    }
    finish();
}

void HelixInstallation::fail()
{
    if (done)
        return;
    emit installFailed();
    finish();
}

void HelixInstallation::finish()
{
    if (done)
        return;
    done = true;
    if (runningInstallation == this)
        runningInstallation = nullptr;
    emit finished();
}
