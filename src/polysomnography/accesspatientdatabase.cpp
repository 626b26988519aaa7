// The polysomnography application's Microsoft Access database, reached through Qt's ODBC driver.
#include "polysomnography/accesspatientdatabase.h"

#include <QSqlDatabase>

QString AccessPatientDatabase::connectionString(const QString &databasePath)
{
    return QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb, *.accdb)};FIL={MS Access};DBQ=") + databasePath;
}

QString AccessPatientDatabase::driverName() const
{
    return QStringLiteral("QODBC");
}

void AccessPatientDatabase::configure(QSqlDatabase &database, const QString &databasePath) const
{
    // No user, password or options: the Access driver opens the file with the user's rights.
    database.setDatabaseName(connectionString(databasePath));
}
