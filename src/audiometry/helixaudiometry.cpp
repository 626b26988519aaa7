// The connector's bridge to the audiometry application: exams and the application's installation.
#include "audiometry/helixaudiometry.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "audiometry/examregistry.h"
#include "audiometry/gdtrequest.h"
#include "audiometry/helixexam.h"
#include "audiometry/helixinstallation.h"
#include "platform/fileoperations.h"
#include "platform/programlauncher.h"
#include "platform/runningprograms.h"

HelixAudiometry::HelixAudiometry(const AppFolder &appFolder, const AudiometrySettings &settings)
    : QObject(nullptr), appFolder(appFolder), settings(settings)
{
    qDebug() << "HelixAudiometry::HelixAudiometry()";
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
        const Patient patient = Patient::fromRecord(args.value(QLatin1String("patient")).toObject());
        if (!gdtRequestFits(patient)) {
            emit sendErrorMessage(INCOMPLETE_PATIENT);
            emit finished();
            return;
        }
        startHelix(patient);
    } else if (command == QLatin1String("INSTALL_HELIX")) {
        installHelix();
    } else {
        // An unknown command gets no reply.
        emit finished();
    }
}

QString HelixAudiometry::helixExe() const
{
    return appFolder.join(helixExecutableName());
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
    const std::optional<QDateTime> requestWritten = writeRequestFile(patient);
    if (!requestWritten) {
        emit sendErrorMessage(HELIX_REQUEST_FILE_FAILED);
        emit finished();
        return;
    }

    const bool running = helixIsRunning();
    if (!running) {
        qDebug() << "Helix not started.";
        // An absolute program path and an empty argument list: a path with blanks stays one path, and
        // a bare name is never looked up in the search path. It runs in its own folder, as from its
        // shortcut: older programs read their files relative to the working folder, and the connector's
        // own may be anything (System32 when started by a Run entry). It is left to run on its own.
        const QFileInfo exe(helixExe());
        if (!settings.launcher->startDetached(exe.absoluteFilePath(), QStringList(), exe.absolutePath())) {
            // No result can come from an application that does not run: the page must not wait for one.
            // Nobody waits for an answer to this request: an application started later must not find it.
            QFile::remove(requestFilePath());
            emit sendErrorMessage(HELIX_START_FAILED);
            emit finished();
            return;
        }
    }

    auto *exam = new HelixExam(exchangeFolder(), ExamRequest{patient, *requestWritten}, settings, this);
    connect(exam, &HelixExam::sendMessage, this, &HelixAudiometry::sendMessage);
    connect(exam, &HelixExam::sendErrorMessage, this, &HelixAudiometry::sendErrorMessage);
    connect(exam, &HelixExam::finished, this, &HelixAudiometry::finished);
    settings.exams->replace(exchangeFolder(), exam);
    // The application just started reads only the new request: the replaced exams get no result from it.
    if (!running)
        exam->applicationNotRunning();
    emit sendMessage(HELIX_EXAM_STARTED, examPayload(patient));
    exam->start();
}

QString HelixAudiometry::requestFilePath() const
{
    return QDir(exchangeFolder()).absolutePath() + AppFolder::nativeName(QStringLiteral("\\hedeprax.gdt"));
}

std::optional<QDateTime> HelixAudiometry::writeRequestFile(const Patient &patient)
{
    const QString path = requestFilePath();
    qDebug() << "GDT gender:" << gdtGenderDigit(patient.gender);

    // Written under a temporary name in the same folder and renamed over the old request in one step: the
    // application never finds a request that is only half written, and when the write fails the exam
    // waiting here keeps its request.
    if (!settings.files->replace(path, gdtRequestRecord(patient)))
        return std::nullopt;
    return QFileInfo(path).fileTime(QFileDevice::FileModificationTime).toUTC();
}

bool HelixAudiometry::helixIsRunning() const
{
    return settings.programs->runs(helixExecutableName());
}
