// The connector's bridge to the audiometry application: exams and the application's installation.
#include "audiometry/helixaudiometry.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "audiometry/gdtrequest.h"
#include "audiometry/helixinstallation.h"
#include "platform/clock.h"
#include "platform/processlist.h"
#include "platform/programlauncher.h"

namespace {

const QLatin1String helixExeName("Helix.exe");

} // namespace

HelixAudiometry::HelixAudiometry(const AppFolder &appFolder, const AudiometrySettings &settings)
    : QObject(nullptr), appFolder(appFolder), settings(settings)
{
    qDebug() << "HelixAudiometry::HelixAudiometry()";
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
        // The installation is checked before the patient is looked at.
        if (!checkHelix()) {
            emit finished();
            return;
        }
        if (const std::optional<SocketMessage> error = Patient::readError(args)) {
            emit sendErrorMessage(*error);
            emit finished();
            return;
        }
        startHelix(Patient::fromRecord(args.value(QLatin1String("patient")).toObject()));
    } else if (command == QLatin1String("INSTALL_HELIX")) {
        installHelix();
    } else {
        // An unknown command gets no reply.
        emit finished();
    }
}

QString HelixAudiometry::helixExe() const
{
    return appFolder.join(helixExeName);
}

QString HelixAudiometry::exchangeFolder() const
{
    return appFolder.join(QStringLiteral("XCHG"));
}

bool HelixAudiometry::helixExeExists() const
{
    return QFile::exists(helixExe());
}

bool HelixAudiometry::ensureExchangeFolder() const
{
    const QString folder = exchangeFolder();
    if (QDir(folder).exists())
        return true;
    // Only the exchange folder itself is created: a missing application folder is an error.
    return QDir().mkdir(folder);
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

void HelixAudiometry::installHelix()
{
    // A running installation goes on reporting to the page; a second one would only download and unpack
    // into the same places again.
    if (HelixInstallation *running = settings.installations->running()) {
        running->join();
        emit finished();
        return;
    }

    auto *installation = new HelixInstallation(settings, this);
    settings.installations->hold(installation);
    connect(installation, &HelixInstallation::sendMessage, this, &HelixAudiometry::sendMessage);
    connect(installation, &HelixInstallation::sendErrorMessage, this, &HelixAudiometry::sendErrorMessage);
    connect(installation, &HelixInstallation::finished, this, &HelixAudiometry::finished);
    installation->start();
}

void HelixAudiometry::startHelix(const Patient &patient)
{
    if (!writeRequestFile(patient)) {
        emit sendErrorMessage(HELIX_REQUEST_FILE_FAILED);
        emit finished();
        return;
    }

    if (!helixIsRunning()) {
        qDebug() << "Helix not started.";
        // An absolute program path and an empty argument list: a path with blanks stays one path, and
        // a bare name is never looked up in the search path. The application is left to run on its own.
        settings.launcher->startDetached(QFileInfo(helixExe()).absoluteFilePath(), QStringList(), QString());
    }

    if (!pollTimer.isActive()) {
        pollTimer.setInterval(pollIntervalMs);
        pollTimer.start();
    }

    // A value that is no text is sent as an empty text.
    emit sendMessage(HELIX_EXAM_STARTED, QJsonObject{{QStringLiteral("first_name"), QJsonValue(patient.firstName)},
                                                     {QStringLiteral("last_name"), QJsonValue(patient.lastName)}});
}

bool HelixAudiometry::writeRequestFile(const Patient &patient)
{
    const QString path =
        QDir(exchangeFolder()).absolutePath() + AppFolder::nativeName(QStringLiteral("\\hedeprax.gdt"));
    if (QFile::exists(path))
        QFile::remove(path);

    qDebug() << "GDT gender:" << gdtGenderDigit(patient.gender);

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
    return exchangeFolder() + QLatin1Char('/') + QLatin1String("TEST_DATA.csv");
}

bool HelixAudiometry::resultFileSettled(const QString &path)
{
    const QFileInfo info(path);
    const qint64 modified = info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
    const qint64 now = settings.clock->now().toMSecsSinceEpoch();
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
    if (settings.pageConnected && !settings.pageConnected())
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
