// The connector's bridge to the polysomnography application.
#include "polysomnography/polysomno.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QVariant>

#include <algorithm>

#include "platform/connectorlog.h"
#include "platform/lockfile.h"
#include "platform/programlauncher.h"
#include "polysomnography/patientdatabase.h"

namespace {

/// A patient text as itself; no text as an SQL NULL of text type.
QVariant textOrNull(const QString &text)
{
    if (!text.isNull())
        return text;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QVariant(QMetaType::fromType<QString>());
#else
    return QVariant(QVariant::String);
#endif
}

/// Whether a stored name and a sent one are the same name: letter case and blanks at either end aside. A
/// stored NULL or blank and a name sent as no text or blank say nothing, and are not compared.
bool sameName(const QVariant &stored, const QString &sent)
{
    const QString storedName = stored.isNull() ? QString() : stored.toString().trimmed();
    const QString sentName = sent.trimmed();
    return storedName.isEmpty() || sentName.isEmpty() || storedName.compare(sentName, Qt::CaseInsensitive) == 0;
}

/// Names of the entries of one folder other than "." and "..", hidden ones left out, in listing order.
QStringList entryNames(const QString &folder)
{
    QStringList names;
    QDirIterator entries(folder);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    return names;
}

} // namespace

Polysomno::Polysomno(const AppFolder &appFolder, const PolysomnoSettings &settings)
    : QObject(nullptr), appFolder(appFolder), settings(settings)
{}

void Polysomno::processCommand(QJsonObject args)
{
    runCommand(args);
    emit finished();
}

void Polysomno::runCommand(const QJsonObject &args)
{
    if (!args.contains(QLatin1String("command"))) {
        emit sendErrorMessage(MISSING_COMMAND);
        return;
    }
    if (args.value(QLatin1String("command")).toString() != QLatin1String("START_POLYSOMNO"))
        return;

    if (!checkPolysomno())
        return;

    if (const std::optional<SocketMessage> error = Patient::readError(args)) {
        emit sendErrorMessage(*error);
        return;
    }
    qDebug() << "Patient complete";
    startPolysomno(Patient::fromRecord(args.value(QLatin1String("patient")).toObject()));
}

bool Polysomno::checkPolysomno()
{
    if (!polysomnoExeExists()) {
        emit sendErrorMessage(POLYSOMNO_NOT_INSTALLED);
        return false;
    }
    if (!databaseExists()) {
        emit sendErrorMessage(POLYSOMNO_DB_NOT_FOUND);
        return false;
    }
    if (const std::optional<SocketMessage> locked = databaseLocked()) {
        emit sendErrorMessage(*locked);
        return false;
    }
    return true;
}

QString Polysomno::polysomnoExe() const
{
    return appFolder.join(QStringLiteral("bin\\SomnoPanel.exe"));
}

QString Polysomno::databaseFile() const
{
    return appFolder.join(QStringLiteral("SomnoDB\\SomnoDB.mdb"));
}

bool Polysomno::polysomnoExeExists() const
{
    return QFile::exists(polysomnoExe());
}

bool Polysomno::databaseExists() const
{
    return QFile::exists(databaseFile());
}

std::optional<SocketMessage> Polysomno::databaseLocked() const
{
    // "SomnoDB.ldb" is the database engine's own lock file for SomnoDB.mdb (its name with ".ldb" for ".mdb";
    // ".laccdb" would belong to an .accdb database, which this application does not have). Either one left
    // behind by a crash must not refuse every registration until someone deletes it.
    for (const QString &name : {QStringLiteral("SomnoDB\\SomnoDB.mdb.ldb"), QStringLiteral("SomnoDB\\SomnoDB.ldb")}) {
        const QString lockFile = QDir::toNativeSeparators(appFolder.join(name));
        const LockFileCheck check = settings.checkLockFile(lockFile.toStdString());
        switch (check.state) {
        case LockFileCheck::Missing:
            break;
        case LockFileCheck::Stale:
            qCInfo(connectorLog) << "Lock file left behind, held by no program; not in use:" << lockFile;
            break;
        case LockFileCheck::Held:
            qCInfo(connectorLog).noquote()
                << "Database in use: its lock file is held:" << lockFile << QString::fromStdString(check.reason);
            return POLYSOMNO_DB_IN_USE;
        case LockFileCheck::Unknown:
            // Taken as free, a database in use could be written by two programs at once.
            qCWarning(connectorLog).noquote()
                << "Cannot tell whether the database is in use:" << lockFile << QString::fromStdString(check.reason);
            return POLYSOMNO_DB_OPEN_FAILED;
        }
    }
    return std::nullopt;
}

QJsonArray Polysomno::listMeasurements() const
{
    // With the usual trailing separator of the application folder the path holds a doubled separator,
    // which names the same folder.
    const QString folder = appFolder.join(QStringLiteral("\\measurement"));
    const QString separator = AppFolder::nativeName(QStringLiteral("\\"));
    QJsonArray statistics;
    const QStringList names = entryNames(folder);
    for (const QString &name : names) {
        statistics.append(QJsonObject{
            {QStringLiteral("name"), name},
            {QStringLiteral("dates"), QJsonArray::fromStringList(entryNames(folder + separator + name))},
        });
    }
    return statistics;
}

void Polysomno::startPolysomno(const Patient &patient)
{
    const QString databasePath = databaseFile();
    qDebug() << databasePath;

    const std::unique_ptr<PatientDatabase> db =
        settings.makeDatabase ? settings.makeDatabase() : PatientDatabase::create(settings.database);
    if (!db->open(databasePath)) {
        emit sendErrorMessage(POLYSOMNO_DB_OPEN_FAILED);
        qDebug().noquote().nospace() << "Failed to open db " << db->errorText();
        qCWarning(connectorLog).noquote() << "Database" << databasePath << "cannot be opened:" << db->errorText();
        return;
    }
    qDebug() << "Database opened";

    const std::optional<SocketMessage> refusal = registerPatient(*db, patient);
    db->close();
    if (refusal) {
        emit sendErrorMessage(*refusal);
        return;
    }

    emit sendMessage(POLYSOMNO_STARTED, QJsonObject{
                                            {QStringLiteral("first_name"), QJsonValue(patient.firstName)},
                                            {QStringLiteral("last_name"), QJsonValue(patient.lastName)},
                                            {QStringLiteral("statistics"), listMeasurements()},
                                        });
    // The program path alone, no arguments, so a path with blanks starts the program too; it runs in its
    // "bin" folder, as from its shortcut, whatever the connector's own working folder is. The patient
    // stays registered whether or not it starts.
    if (!settings.launcher->startDetached(polysomnoExe(), QStringList(), QFileInfo(polysomnoExe()).absolutePath())) {
        emit sendErrorMessage(POLYSOMNO_START_FAILED);
    }
}

std::optional<SocketMessage> Polysomno::registerPatient(PatientDatabase &db, const Patient &patient)
{
    const QString databasePath = databaseFile();
    // A lookup that fails must not pass for "not found": that would register the patient a second time.
    const std::optional<QList<PatientDatabase::StoredNames>> stored = db.patientsWithCode(textOrNull(patient.code));
    if (!stored) {
        qCWarning(connectorLog).noquote() << "Database" << databasePath << "patient lookup failed:" << db.errorText();
        return POLYSOMNO_INSERT_FAILED;
    }
    if (!stored->isEmpty()) {
        // The application opens the stored patient: the page must not report another one as registered.
        const bool samePatient =
            std::all_of(stored->begin(), stored->end(), [&](const PatientDatabase::StoredNames &row) {
                return sameName(row.name, patient.firstName) && sameName(row.vorname, patient.lastName);
            });
        if (!samePatient) {
            qCWarning(connectorLog) << "Registration refused: the patient code is stored with other names";
            return POLYSOMNO_PATIENT_MISMATCH;
        }
        // A patient already registered under the code is left exactly as stored.
        return std::nullopt;
    }

    const std::optional<int> patientId = db.nextPatientId();
    if (!patientId) {
        qCWarning(connectorLog).noquote()
            << "Database" << databasePath << "highest PatientID unreadable:" << db.errorText();
        return POLYSOMNO_INSERT_FAILED;
    }
    // Sex, height and weight are fixed: the application's own forms hold the real values, and these
    // stand-ins only satisfy its columns (1, 180 cm, 80 kg).
    const QVariantList row{
        *patientId,
        textOrNull(patient.code),
        textOrNull(patient.firstName),
        textOrNull(patient.lastName),
        textOrNull(patient.birthDate),
        1,
        180,
        80,
    };
    if (!db.insertPatient(row)) {
        qDebug() << PatientDatabase::insertStatement();
        qCWarning(connectorLog).noquote() << "Database" << databasePath << "refused the patient row:" << db.errorText();
        return POLYSOMNO_INSERT_FAILED;
    }
    return std::nullopt;
}
