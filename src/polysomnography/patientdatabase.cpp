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

bool PatientDatabase::containsCode(const QVariant &code)
{
    if (!query || !query->prepare(driverStatement(lookupStatement())))
        return false;
    query->bindValue(QStringLiteral(":code"), code);
    return query->exec() && query->next();
}

int PatientDatabase::nextPatientId()
{
    if (!run(highestKeyStatement(), {}) || !query->next())
        return 1;
    const int highest = query->value(0).toInt();
    // At the top of the range the insert is left to fail on the existing key rather than overflow.
    return highest < std::numeric_limits<int>::max() ? highest + 1 : highest;
}

bool PatientDatabase::insertPatient(const QVariantList &values)
{
    if (run(insertStatement(), values))
        return true;
    // The driver's reason names columns and constraints, never the values.
    if (query)
        error = query->lastError().text();
    return false;
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
