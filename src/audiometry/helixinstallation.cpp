// One installation of the audiometry application: download the archive, unpack it, start the installer.
#include "audiometry/helixinstallation.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>

#include "platform/connectorlog.h"
#include "platform/networkfailure.h"
#include "platform/programlauncher.h"
#include "platform/unpacker.h"

namespace {

const QLatin1String setupName("HelixSetup");
const QLatin1String installerName("HelixSetup.exe");
// Marks an unpack folder as the connector's own: only such a folder is ever deleted.
const QLatin1String markerName(".sanvero-connector-unpacked");
// "HelixSetup", then "HelixSetup-2" ... up to this number, for the archive and the unpack folder alike.
constexpr int maxNumberedNames = 100;

QString numberedName(int number)
{
    return number == 1 ? QString(setupName) : setupName + QStringLiteral("-%1").arg(number);
}

/// Creates a new, empty archive file under a free name in folder, so no file of someone else's is ever
/// overwritten or unpacked; its path, or empty when none could be made.
QString reserveArchive(const QString &folder)
{
    for (int number = 1; number <= maxNumberedNames; ++number) {
        QFile file(folder + numberedName(number) + QStringLiteral(".zip"));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file.fileName();
        if (!file.exists())
            return QString(); // not taken, yet it cannot be created: the folder is not writable
    }
    return QString();
}

bool isOwnUnpackFolder(const QFileInfo &folder)
{
    // A link could lead the deletion anywhere.
    bool link = folder.isSymLink();
#if QT_VERSION >= QT_VERSION_CHECK(6, 2, 0)
    link = link || folder.isJunction();
#endif
    return folder.isDir() && !link && QFileInfo::exists(folder.filePath() + QLatin1Char('/') + markerName);
}

/// An unpack folder the connector creates in folder: "HelixSetup/" when it is free or one of the connector's
/// own (deleted first, so files of an earlier unpacking do not mix with the new ones), else a free numbered
/// name. Its path with a trailing "/", or empty when none could be made.
QString createUnpackFolder(const QString &folder)
{
    for (int number = 1; number <= maxNumberedNames; ++number) {
        const QString path = folder + numberedName(number);
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink()) {
            if (!isOwnUnpackFolder(info) || !QDir(path).removeRecursively())
                continue;
        }
        if (!QDir().mkdir(path))
            continue;
        QFile marker(path + QLatin1Char('/') + markerName);
        if (marker.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
            marker.write("Unpacked by the SANvero Connector, which deletes this folder before it unpacks here "
                         "again.\n") > 0)
            return path + QLatin1Char('/');
        return QString();
    }
    return QString();
}

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

QJsonObject percentPayload(qint64 percent)
{
    return QJsonObject{{QStringLiteral("percent"), percent}};
}

} // namespace

HelixInstallation::HelixInstallation(const AudiometrySettings &settings, QObject *parent)
    : QObject(parent), settings(settings)
{
    unpackTimer.setSingleShot(true);
    unpackTimer.setInterval(unpackTimeoutMs);
    connect(&unpackTimer, &QTimer::timeout, this, &HelixInstallation::unpackTimedOut);
}

QUrl HelixInstallation::downloadUrl(const QUrl &downloadServer)
{
    QUrl url = downloadServer;
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
    emit sendMessage(HELIX_INSTALL_PROGRESS, percentPayload(0));
    setupFolder = settings.desktopFolder + QLatin1Char('/');
    // Always downloaded afresh: an archive found on the desktop could have been put there by anyone.
    startDownload();
}

void HelixInstallation::join()
{
    emit sendMessage(HELIX_INSTALL_PROGRESS, percentPayload(0));
}

void HelixInstallation::startDownload()
{
    current = Stage::Downloading;
    // The desktop may not exist yet on a fresh profile; the archive is written there.
    QDir().mkpath(setupFolder);
    archivePath = reserveArchive(setupFolder);
    archive = std::make_unique<ArchiveWriter>();
    if (archivePath.isEmpty() || !archive->open(archivePath)) {
        archive.reset();
        fail(QStringLiteral("the archive cannot be written to ") + setupFolder);
        return;
    }
    connect(archive.get(), &ArchiveWriter::written, this, &HelixInstallation::storeReceived);
    connect(archive.get(), &ArchiveWriter::writeFailed, this, [this] {
        // A full disk: the installation ends here, and there is no point in fetching the rest.
        archive.reset();
        fail(QStringLiteral("writing the archive failed (disk full?)"));
        if (download)
            download->abort();
    });
    connect(archive.get(), &ArchiveWriter::committed, this, &HelixInstallation::archiveCommitted);

    QNetworkRequest request(downloadUrl(settings.downloadServer));
    // A redirect answer is a failed download; Qt 6 would follow it unless told otherwise.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(transferTimeoutMs);
    download = networkManager.get(request);
    download->setReadBufferSize(readBufferBytes);
    connect(&networkManager, &QNetworkAccessManager::finished, this, &HelixInstallation::downloadFinished);
    connect(download, &QNetworkReply::readyRead, this, &HelixInstallation::storeReceived);
    connect(download, &QNetworkReply::downloadProgress, this, &HelixInstallation::reportProgress);
}

void HelixInstallation::reportProgress(qint64 received, qint64 total)
{
    // An error page's size is no progress of the archive.
    if (current != Stage::Downloading || !download || !isSuccessStatus(download))
        return;
    if (const std::optional<qint64> percent = progressPercent(received, total))
        emit sendMessage(HELIX_INSTALL_PROGRESS, percentPayload(*percent));
}

void HelixInstallation::storeReceived()
{
    if ((current != Stage::Downloading && current != Stage::Storing) || !download || !archive)
        return;
    if (!isSuccessStatus(download)) {
        download->readAll(); // an error page, dropped
        return;
    }
    // Only as much as the writer keeps up with is taken from the reply; the rest waits in the network layer,
    // which then stops reading from the server.
    while (download->bytesAvailable() > 0 && archive->backlog() < writeBacklogBytes)
        archive->write(download->read(readBufferBytes));
    if (current == Stage::Storing && download->bytesAvailable() == 0 && !commitRequested) {
        commitRequested = true;
        archive->commit();
    }
}

void HelixInstallation::downloadFinished(QNetworkReply *data)
{
    if (data != download || current != Stage::Downloading)
        return;
    if (data->error() != QNetworkReply::NoError || !isSuccessStatus(data)) {
        // Redirects are not followed, so a 3xx ends here too.
        qCWarning(connectorLog).noquote()
            << "Download of" << data->url().toString() << "failed:" << networkFailureText(*data, transferTimeoutMs);
        archive.reset(); // discards the temporary file
        data->deleteLater();
        emit sendErrorMessage(HELIX_DOWNLOAD_FAILED);
        finish();
        return;
    }
    emit sendMessage(HELIX_DOWNLOAD_FINISHED, QJsonObject{{QStringLiteral("folder"), setupFolder}});
    current = Stage::Storing;
    storeReceived(); // what is left in the reply, then the commit
}

void HelixInstallation::archiveCommitted(bool ok)
{
    if (current != Stage::Storing || !archive)
        return; // a report of a writer that is gone
    archive.reset();
    if (download)
        download->deleteLater();
    if (!ok) {
        fail(QStringLiteral("the archive could not be stored"));
        return;
    }
    archiveStored = true;
    emit sendMessage(HELIX_EXTRACTION_STARTED, QJsonObject());
    extractHelixSetup(setupFolder);
}

void HelixInstallation::extractHelixSetup(const QString &folder)
{
    current = Stage::Unpacking;
    setupFolder = folder;
    unpackFolder = createUnpackFolder(folder);
    if (unpackFolder.isEmpty()) {
        fail(QStringLiteral("no unpack folder can be created in ") + folder);
        return;
    }
    emit sendMessage(HELIX_EXTRACTION_STARTED, QJsonObject{{QStringLiteral("folder"), folder}});

    const QString program = unpackerProgram();
    // "-y" answers every question with yes: 7-Zip would otherwise wait on its input for an answer.
    const QStringList arguments{QStringLiteral("x"), archivePath, QStringLiteral("-o") + unpackFolder,
                                QStringLiteral("-r"), QStringLiteral("-y")};
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
            fail(QStringLiteral("7-Zip cannot be started: ") + unpacker->program() + QStringLiteral(": ") +
                 unpacker->errorString());
    });
    unpackTimer.start();
    unpacker->start(program, arguments);
}

void HelixInstallation::unpackTimedOut()
{
    fail(QStringLiteral("7-Zip did not finish in time"));
}

void HelixInstallation::helixZipExtracted(int exitCode)
{
    qDebug() << "Zip extraction status:" << exitCode;
    if (current != Stage::Unpacking)
        return;
    unpackTimer.stop();
    if (exitCode != 0 || !unpacker || unpacker->exitStatus() != QProcess::NormalExit) {
        fail(QStringLiteral("7-Zip ended with exit code %1").arg(exitCode));
        return;
    }
    unpacker->deleteLater();

    const QString installer = unpackFolder + installerName;
    if (!QFileInfo(installer).isFile()) {
        fail(QStringLiteral("the archive holds no ") + installer);
        return;
    }
    emit sendMessage(HELIX_SETUP_STARTED, QJsonObject{{QStringLiteral("path"), installer}});
    current = Stage::Starting;
    // The installer runs in its own folder, where it may look for the files that came with it. Its start may wait
    // for the operator's answer to Windows' prompt for administrator rights; the connector serves on meanwhile.
    settings.launcher->startInstaller(installer, unpackFolder, this, [this](bool started) {
        if (started)
            finish();
        else
            fail(QStringLiteral("the installer cannot be started"));
    });
}

void HelixInstallation::fail(const QString &reason)
{
    if (current == Stage::Finished)
        return;
    qCWarning(connectorLog).noquote() << "Installation failed:" << reason;
    emit sendErrorMessage(HELIX_INSTALL_FAILED);
    finish();
}

void HelixInstallation::finish()
{
    if (current == Stage::Finished)
        return;
    current = Stage::Finished;
    unpackTimer.stop();
    // The empty file that held the archive's name for a download that came to nothing.
    if (!archiveStored && !archivePath.isEmpty()) {
        archive.reset();
        QFile::remove(archivePath);
    }
    // A 7-Zip that has not ended by now (a hung one, or one whose start failed) goes with the installation.
    if (unpacker && unpacker->state() != QProcess::NotRunning)
        unpacker->kill();
    emit finished();
}
