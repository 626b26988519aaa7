// The connector's bridge to the audiometry application: exams and the application's installation.
#include "audiometry/helixaudiometry.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QJsonValue>
#include <QProcess>
#include <QSaveFile>

#include "audiometry/gdtrequest.h"
#include "audiometry/helixinstallation.h"
#include "channel/patientrecord.h"
#include "platform/paths.h"
#include "platform/processlist.h"

namespace {

const QLatin1String helixExeName("Helix.exe");

} // namespace

HelixAudiometry::HelixAudiometry(QString appPath) : QObject(nullptr)
{
    qDebug() << "HelixAudiometry::HelixAudiometry()";
    this->appPath = std::move(appPath);
    connect(&pollTimer, &QTimer::timeout, this, &HelixAudiometry::watchHelixFolder);
}

void HelixAudiometry::processCommand(QJsonObject args)
{
    if (!args.contains(QLatin1String("command"))) {
        emit sendErrorMessage(MISSING_COMMAND);
        emit finished();
        return;
    }

    const QString command = args.value(QLatin1String("command")).toString(); // a non-string gives empty text
    if (command == QLatin1String("START_AUDIOMETRY")) {
        if (!checkHelix()) {
            emit finished();
            return;
        }
        if (const std::optional<SocketMessage> error = patientRecordError(args)) {
            emit sendErrorMessage(*error);
            emit finished();
            return;
        }
        startHelix(args.value(QLatin1String("patient")).toObject());
    } else if (command == QLatin1String("INSTALL_HELIX")) {
        installHelix();
    } else {
        // An unknown command gets no reply.
        emit finished();
    }
}

bool HelixAudiometry::helixExeExists()
{
    exeFile.setFileName(appPath + fixedRelativePath(helixExeName));
    return exeFile.exists();
}

bool HelixAudiometry::ensureExchangeFolder()
{
    exchangeFolder.setPath(appPath + fixedRelativePath(QStringLiteral("XCHG")));
    if (exchangeFolder.exists())
        return true;
    // Only the exchange folder itself is created: a missing application folder is an error.
    return QDir().mkdir(exchangeFolder.path());
}

bool HelixAudiometry::checkHelix()
{
    if (!helixExeExists()) {
        emit sendErrorMessage(HELIX_NOT_INSTALLED);
        return false;
    }
    if (!ensureExchangeFolder()) {
        emit sendErrorMessage(HELIX_EXCHANGE_FOLDER_FAILED);
        return false;
    }
    return true;
}

void HelixAudiometry::downloadProgress(qint64 recieved, qint64 total)
{
    if (const std::optional<qint64> percent = HelixInstallation::progressPercent(recieved, total))
        emit sendMessage(HELIX_INSTALL_PROGRESS, QJsonObject{{QStringLiteral("percent"), *percent}});
}

void HelixAudiometry::downloadError(QNetworkReply::NetworkError)
{
    emit sendErrorMessage(HELIX_DOWNLOAD_FAILED);
}

void HelixAudiometry::installHelix()
{
    emit sendMessage(HELIX_INSTALL_PROGRESS, QJsonObject{{QStringLiteral("percent"), 0}});

    // A running installation reports to the page through its own bridge; a second one would only
    // download and unpack into the same places again.
    if (HelixInstallation::current()) {
        emit finished();
        return;
    }

    auto *installation = new HelixInstallation(downloadServer, this);
    connect(installation, &HelixInstallation::report, this, &HelixAudiometry::sendMessage);
    connect(installation, &HelixInstallation::downloadProgress, this, &HelixAudiometry::downloadProgress);
    connect(installation, &HelixInstallation::downloadFailed, this, &HelixAudiometry::downloadError);
    connect(installation, &HelixInstallation::installFailed, this,
            [this] { emit sendErrorMessage(HELIX_INSTALL_FAILED); });
    connect(installation, &HelixInstallation::finished, this, &HelixAudiometry::finished);
    installation->start();
}

void HelixAudiometry::startHelix(QJsonObject patient)
{
    if (!writeRequestFile(patient)) {
        emit sendErrorMessage(HELIX_REQUEST_FILE_FAILED);
        emit finished();
        return;
    }

    if (!helixIsRunning()) {
        qDebug() << "Helix not started.";
        // An absolute program path and an empty argument list: a path with blanks stays one path, and
        // a bare name is never looked up in the search path. The application is left to run on its
        // own; its start is not awaited.
        QProcess::startDetached(QFileInfo(exeFile.fileName()).absoluteFilePath(), QStringList());
    }

    if (!pollTimer.isActive()) {
        pollTimer.setInterval(pollIntervalMs);
        pollTimer.start();
    }

    emit sendMessage(HELIX_EXAM_STARTED,
                     QJsonObject{{QStringLiteral("first_name"), gdtText(patient.value(QLatin1String("first_name")))},
                                 {QStringLiteral("last_name"), gdtText(patient.value(QLatin1String("last_name")))}});
}

bool HelixAudiometry::writeRequestFile(const QJsonObject &patient)
{
    const QString path = exchangeFolder.absolutePath() + fixedRelativePath(QStringLiteral("\\hedeprax.gdt"));
    if (QFile::exists(path))
        QFile::remove(path);

    qDebug() << "GDT gender:" << gdtGenderDigit(patient.value(QLatin1String("gender")));

    // Written under a temporary name in the same folder and renamed into place, so the application
    // never finds a request that is only half written.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(gdtRequestRecord(patient));
    return file.commit();
}

bool HelixAudiometry::helixIsRunning()
{
    for (const std::string &name : runningProcessNames()) {
        if (QString::fromStdString(name).contains(helixExeName))
            return true;
    }
    return false;
}

QString HelixAudiometry::resultFilePath() const
{
    return exchangeFolder.path() + QLatin1Char('/') + QLatin1String("TEST_DATA.csv");
}

bool HelixAudiometry::resultFileSettled(const QString &path)
{
    const QFileInfo info(path);
    const qint64 modified = info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (modified <= now) {
        seenSize = seenModified = -1;
        return now - modified >= resultSettleMs;
    }
    // A time stamp ahead of the clock (the clock was set back) would never grow old enough:
    // such a file counts as settled once a whole poll interval has left it unchanged.
    const bool unchanged = info.size() == seenSize && modified == seenModified;
    seenSize = info.size();
    seenModified = modified;
    return unchanged;
}

void HelixAudiometry::watchHelixFolder()
{
    const QString path = resultFilePath();
    if (!QFile::exists(path))
        return;
    // Read into a frame that no page receives, the result would be lost; it waits for the next page.
    if (!pageConnected())
        return;
    if (!resultFileSettled(path))
        return;

    QFile file(path);
    // A file that cannot be opened now (held by its writer) is tried again at the next tick.
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    file.close();

    const auto zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    helixGaveUsResultFile(QString::fromUtf8(bytes));

    QFile::remove(path);
    pollTimer.stop();
    emit finished();
}

void HelixAudiometry::helixGaveUsResultFile(QString file)
{
    emit sendMessage(HELIX_RESULTS, QJsonObject{{QStringLiteral("results"), file}});
}
