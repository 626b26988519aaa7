// An SQLite 3 file standing in for the Access database where no Access driver exists.
#pragma once

#include "polysomnography/patientdatabase.h"

/// The file at the database path is an SQLite 3 database holding the same Patient table. The statements
/// stay those of the Access database; the one construct SQLite lacks, "SELECT TOP n ...", is rewritten here,
/// and the lookup compares codes without regard to case, as Access does.
class SqlitePatientDatabase : public PatientDatabase
{
public:
    QString driverStatement(const QString &statement) const override;

protected:
    QString driverName() const override;
    void configure(QSqlDatabase &database, const QString &databasePath) const override;
    bool verify(QSqlDatabase &database, QString *errorText) const override;
};
