// Creates stand-in polysomnography installations: an SQLite 3 file in place of SomnoDB.mdb, measurements.
#include "somnodb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include <functional>

namespace SomnoDb {

namespace {

/// Runs work on a private connection to the file, never the default connection the connector uses.
bool withDatabase(const QString &path, QString *error, const std::function<bool(QSqlDatabase &)> &work)
{
    const QString name = QStringLiteral("somnodb-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool ok = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(path);
        if (!database.open())
            *error = database.lastError().text();
        else
            ok = work(database);
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool run(QSqlQuery &query, const QString &statement, const QVariantList &values, QString *error)
{
    bool ok = query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    ok = ok && query.exec();
    if (!ok)
        *error = query.lastError().text();
    return ok;
}

bool writeFile(const QString &path, const QByteArray &content, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

bool makePath(const QString &path, QString *error)
{
    if (QDir().mkpath(path))
        return true;
    *error = QStringLiteral("cannot create ") + path;
    return false;
}

} // namespace

QString patientTableStatement()
{
    // Codes compared without regard to case, as the Access database compares text.
    return QStringLiteral("CREATE TABLE Patient (PatientID INTEGER NOT NULL PRIMARY KEY, "
                          "IDKrankenhaus TEXT COLLATE NOCASE, Name TEXT, Vorname TEXT, Geburtsdatum TEXT, "
                          "Geschlecht INTEGER, Groesse INTEGER, Gewicht INTEGER)");
}

bool create(const QString &path, QString *error, const QStringList &statements)
{
    if (QFileInfo::exists(path)) {
        *error = path + QStringLiteral(" exists already");
        return false;
    }
    if (!makePath(QFileInfo(path).absolutePath(), error))
        return false;
    return withDatabase(path, error, [&](QSqlDatabase &database) {
        QSqlQuery query(database);
        for (const QString &statement : statements) {
            if (!run(query, statement, {}, error))
                return false;
        }
        return true;
    });
}

bool execute(const QString &path, const QString &statement, const QVariantList &values, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = path + QStringLiteral(" does not exist");
        return false;
    }
    return withDatabase(path, error, [&](QSqlDatabase &database) {
        QSqlQuery query(database);
        return run(query, statement, values, error);
    });
}

bool addPatient(const QString &path, int patientId, const QString &code, const QString &name, const QString &vorname,
                const QString &birthDate, QString *error)
{
    return execute(path,
                   QStringLiteral("INSERT INTO Patient (PatientID, IDKrankenhaus, Name, Vorname, Geburtsdatum, "
                                  "Geschlecht, Groesse, Gewicht) VALUES (?, ?, ?, ?, ?, 1, 180, 80)"),
                   {patientId, code, name, vorname, birthDate}, error);
}

std::optional<QList<QVariantMap>> patients(const QString &path, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = path + QStringLiteral(" does not exist");
        return std::nullopt;
    }
    QList<QVariantMap> rows;
    const bool ok = withDatabase(path, error, [&](QSqlDatabase &database) {
        QSqlQuery query(database);
        if (!run(query, QStringLiteral("SELECT * FROM Patient ORDER BY PatientID"), {}, error))
            return false;
        while (query.next()) {
            const QSqlRecord record = query.record();
            QVariantMap row;
            for (int i = 0; i < record.count(); ++i)
                row.insert(record.fieldName(i), record.value(i));
            rows.append(row);
        }
        return true;
    });
    if (!ok)
        return std::nullopt;
    return rows;
}

bool createSampleMeasurements(const QString &folder, QString *error)
{
    const QDir root(folder);
    const QList<QPair<QString, QStringList>> recordings{
        {QStringLiteral("DEMO-0001"), {QStringLiteral("2024-03-11"), QStringLiteral("2024-04-02")}},
        {QStringLiteral("DEMO-0002"), {QStringLiteral("2024-05-20")}},
    };
    for (const auto &recording : recordings) {
        for (const QString &night : recording.second) {
            const QString nightFolder = root.filePath(recording.first + QLatin1Char('/') + night);
            if (!makePath(nightFolder, error) ||
                !writeFile(nightFolder + QStringLiteral("/signals.edf"), QByteArray("0       "), error))
                return false;
        }
    }
    // A plain file at the top level and a hidden entry, which the connector leaves out.
    return writeFile(root.filePath(QStringLiteral("README.txt")), QByteArray("Sample measurements\n"), error) &&
           makePath(root.filePath(QStringLiteral(".cache")), error);
}

bool createDemoInstallation(const QString &appPath, const QString &standInExe, QString *error)
{
    const QDir root(appPath);
    const QString database = root.filePath(QStringLiteral("SomnoDB/SomnoDB.mdb"));
    const QString exe = root.filePath(QStringLiteral("bin/SomnoPanel.exe"));
    if (!QFileInfo::exists(standInExe)) {
        *error = standInExe + QStringLiteral(" does not exist");
        return false;
    }
    if (!makePath(root.filePath(QStringLiteral("bin")), error))
        return false;
    QFile::remove(exe);
    if (!QFile::copy(standInExe, exe)) {
        *error = QStringLiteral("cannot copy ") + standInExe + QStringLiteral(" to ") + exe;
        return false;
    }
    return create(database, error) &&
           addPatient(database, 1, QStringLiteral("DEMO-0001"), QStringLiteral("Martinez"), QStringLiteral("Ana"),
                      QStringLiteral("1971-02-14"), error) &&
           addPatient(database, 2, QStringLiteral("DEMO-0002"), QStringLiteral("Lopez"), QStringLiteral("Juan"),
                      QStringLiteral("1985-09-30"), error) &&
           createSampleMeasurements(root.filePath(QStringLiteral("measurement")), error);
}

} // namespace SomnoDb
