// The polysomnography application's Microsoft Access database, reached through Qt's ODBC driver.
#pragma once

#include "polysomnography/patientdatabase.h"

class AccessPatientDatabase : public PatientDatabase
{
public:
    /// The ODBC connection string naming the Access driver and the database file.
    static QString connectionString(const QString &databasePath);

protected:
    QString driverName() const override;
    void configure(QSqlDatabase &database, const QString &databasePath) const override;
};
