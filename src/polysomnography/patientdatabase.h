// Registers polysomnography patients in the application's database through one Qt SQL connection.
#pragma once

#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>
#include <optional>

#include "platform/databasebackend.h"

/// One registration's use of the database: open, look up, insert, close. The connection is registered
/// under Qt's default connection name, replacing an earlier one, and is released again by close(), so
/// nothing stays registered between commands.
class PatientDatabase
{
public:
    /// The backend for this platform or configuration: Access over ODBC, or the SQLite stand-in.
    static std::unique_ptr<PatientDatabase> create(DatabaseBackend backend);

    virtual ~PatientDatabase();

    /// The statement texts exactly as the application's Access database receives them.
    static QString lookupStatement();
    /// The stored names of one PatientID, read once the lookup found the code.
    static QString namesStatement();
    static QString highestKeyStatement();
    static QString insertStatement();

    /// The names stored for a patient, SQL NULL as a null QVariant.
    struct StoredNames
    {
        QVariant name;    // column Name
        QVariant vorname; // column Vorname
    };

    /// Registers and opens the connection to the database file. On failure the connection is released
    /// again and errorText() holds the driver's error.
    bool open(const QString &databasePath);
    QString errorText() const { return error; }
    bool isOpen() const { return query.has_value(); }

    /// The names of every patient row that carries this code (compared as the database compares text); none
    /// when the lookup fails, and errorText() then holds the driver's reason.
    std::optional<QList<StoredNames>> patientsWithCode(const QVariant &code);
    /// The highest PatientID plus one, 1 when the table is empty; none when the query fails (errorText()).
    std::optional<int> nextPatientId();
    /// Inserts one row with the eight values in column order; false when the database refuses it, and
    /// errorText() then holds the driver's reason.
    bool insertPatient(const QVariantList &values);

    /// Closes the connection and releases it; harmless when nothing is open.
    void close();

    /// The text this backend hands its driver for one of the statements above.
    virtual QString driverStatement(const QString &statement) const { return statement; }

protected:
    PatientDatabase() = default;

    virtual QString driverName() const = 0;
    /// Sets the database name and options of a freshly registered connection.
    virtual void configure(QSqlDatabase &database, const QString &databasePath) const = 0;
    /// Called once the connection is open: whether the database is one the registration can use.
    virtual bool verify(QSqlDatabase &database, QString *errorText) const;

private:
    bool run(const QString &statement, const QVariantList &values);
    /// Keeps the driver's reason of the statement that just failed.
    void keepError();

    std::optional<QSqlQuery> query; // the one query object of the open connection
    QString error;
};
