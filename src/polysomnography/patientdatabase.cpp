// Registers polysomnography patients in the application's database through one Qt SQL connection.
#include "polysomnography/patientdatabase.h"

#include <QSqlDatabase>
#include <QSqlError>

#include <limits>

#include "polysomnography/accesspatientdatabase.h"
#include "polysomnography/sqlitepatientdatabase.h"

std::unique_ptr<PatientDatabase> PatientDatabase::create(DatabaseBackend backend)
{
    if (backend == DatabaseBackend::Odbc)
        return std::make_unique<AccessPatientDatabase>();
    return std::make_unique<SqlitePatientDatabase>();
}

PatientDatabase::~PatientDatabase()
{
    close();
}

QString PatientDatabase::lookupStatement()
{
    return QStringLiteral("SELECT PatientID FROM Patient WHERE IDKrankenhaus = :code ");
}

QString PatientDatabase::namesStatement()
{
    return QStringLiteral("SELECT `Name`, `Vorname` FROM `Patient` WHERE `PatientID` = ?");
}

QString PatientDatabase::highestKeyStatement()
{
    return QStringLiteral("SELECT TOP 1 PatientID FROM Patient ORDER BY PatientID DESC");
}

QString PatientDatabase::insertStatement()
{
    return QStringLiteral("INSERT INTO `Patient` (`PatientID`, `IDKrankenhaus`, `Name`, `Vorname`, `Geburtsdatum`, "
                          "`Geschlecht`, `Groesse`, `Gewicht`) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
}

bool PatientDatabase::verify(QSqlDatabase &database, QString *errorText) const
{
    Q_UNUSED(database)
    Q_UNUSED(errorText)
    return true;
}

bool PatientDatabase::open(const QString &databasePath)
{
    close();
    error.clear();
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    // A connection left by an earlier command is replaced; nothing uses it any more.
    if (QSqlDatabase::contains(name))
        QSqlDatabase::removeDatabase(name);

    bool opened = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(driverName());
        configure(database, databasePath);
        opened = database.open();
        if (!opened)
            error = database.lastError().text();
        else if (!verify(database, &error))
            opened = false;
        if (opened)
            query.emplace(database);
        else
            database.close();
    }
    if (!opened)
        QSqlDatabase::removeDatabase(name);
    return opened;
}

bool PatientDatabase::run(const QString &statement, const QVariantList &values)
{
    if (!query)
        return false;
    if (!query->prepare(driverStatement(statement)))
        return false;
    for (const QVariant &value : values)
        query->addBindValue(value);
    return query->exec();
}

std::optional<QList<PatientDatabase::StoredNames>> PatientDatabase::patientsWithCode(const QVariant &code)
{
    // The lookup's text stays that of the Access database; the names are read by key afterwards.
    if (!query || !query->prepare(driverStatement(lookupStatement()))) {
        keepError();
        return std::nullopt;
    }
    query->bindValue(QStringLiteral(":code"), code);
    if (!query->exec()) {
        keepError();
        return std::nullopt;
    }
    QVariantList keys;
    while (query->next())
        keys.append(query->value(0));

    QList<StoredNames> patients;
    for (const QVariant &key : keys) {
        if (!run(namesStatement(), {key})) {
            keepError();
            return std::nullopt;
        }
        if (query->next())
            patients.append({query->value(0), query->value(1)});
    }
    return patients;
}

std::optional<int> PatientDatabase::nextPatientId()
{
    if (!run(highestKeyStatement(), {})) {
        keepError();
        return std::nullopt;
    }
    if (!query->next())
        return 1;
    const int highest = query->value(0).toInt();
    // At the top of the range the insert is left to fail on the existing key rather than overflow.
    return highest < std::numeric_limits<int>::max() ? highest + 1 : highest;
}

bool PatientDatabase::insertPatient(const QVariantList &values)
{
    if (run(insertStatement(), values))
        return true;
    keepError();
    return false;
}

void PatientDatabase::keepError()
{
    // The driver's reason names statements, columns and constraints, never the values bound.
    error = query ? query->lastError().text() : QStringLiteral("the database is not open");
}

void PatientDatabase::close()
{
    if (!query)
        return;
    // Every query and handle must be gone before the connection is released, or Qt keeps it alive.
    query.reset();
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    {
        QSqlDatabase database = QSqlDatabase::database(name, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
}
