// The connector's bridge to the polysomnography application.
#include "polysomnography/polysomno.h"

#include <QDebug>
#include <QDirIterator>
#include <QJsonValue>
#include <QProcess>
#include <QVariant>

#include "channel/patientrecord.h"
#include "platform/paths.h"
#include "polysomnography/patientdatabase.h"

namespace {

/// A JSON string as text; any other value as an SQL NULL of text type.
QVariant textOrNull(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QVariant(QMetaType::fromType<QString>());
#else
    return QVariant(QVariant::String);
#endif
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

Polysomno::Polysomno(const QString &appPath) : QObject(nullptr), appPath(appPath) {}

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

    if (const std::optional<SocketMessage> error = patientRecordError(args)) {
        emit sendErrorMessage(*error);
        return;
    }
    qDebug() << "Patient complete";
    startPolysomno(args.value(QLatin1String("patient")).toObject());
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
    if (databaseLocked()) {
        emit sendErrorMessage(POLYSOMNO_DB_IN_USE);
        return false;
    }
    return true;
}

bool Polysomno::polysomnoExeExists()
{
    exeFile.setFileName(appPath + fixedRelativePath(QStringLiteral("bin\\SomnoPanel.exe")));
    return exeFile.exists();
}

bool Polysomno::databaseExists()
{
    dbFile.setFileName(appPath + fixedRelativePath(QStringLiteral("SomnoDB\\SomnoDB.mdb")));
    return dbFile.exists();
}

bool Polysomno::databaseLocked()
{
    const QFile lockFile(appPath + fixedRelativePath(QStringLiteral("SomnoDB\\SomnoDB.mdb.ldb")));
    return lockFile.exists();
}

QJsonArray Polysomno::listMeasurements()
{
    const QString folder = appPath + fixedRelativePath(QStringLiteral("\\measurement"));
    const QString separator = fixedRelativePath(QStringLiteral("\\"));
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

void Polysomno::startPolysomno(QJsonObject patient)
{
    const QJsonValue code = patient.value(QLatin1String("code"));
    const QJsonValue firstName = patient.value(QLatin1String("first_name"));
    const QJsonValue lastName = patient.value(QLatin1String("last_name"));
    qDebug() << dbFile.fileName();

    const std::unique_ptr<PatientDatabase> db = PatientDatabase::create(database);
    if (!db->open(dbFile.fileName())) {
        emit sendErrorMessage(POLYSOMNO_DB_OPEN_FAILED);
        qDebug().noquote().nospace() << "Failed to open db " << db->errorText();
        return;
    }
    qDebug() << "Database opened";

    // A patient already registered under the code is left exactly as stored.
    if (!db->containsCode(textOrNull(code))) {
        const QVariantList row{
            db->nextPatientId(),
            textOrNull(code),
            textOrNull(firstName),
            textOrNull(lastName),
            textOrNull(patient.value(QLatin1String("birth_date"))),
            1,
            180,
            80,
        };
        if (!db->insertPatient(row)) {
            emit sendErrorMessage(POLYSOMNO_INSERT_FAILED);
            qDebug() << PatientDatabase::insertStatement();
            db->close();
            return;
        }
    }
    db->close();

    emit sendMessage(POLYSOMNO_STARTED, QJsonObject{
                                            {QStringLiteral("first_name"), firstName.toString()},
                                            {QStringLiteral("last_name"), lastName.toString()},
                                            {QStringLiteral("statistics"), listMeasurements()},
                                        });
    // The program path alone, no arguments, so a path with blanks starts the program too; the new process
    // keeps the connector's working directory. Its outcome is not reported: the page has its answer.
    QProcess::startDetached(exeFile.fileName(), QStringList());
}
