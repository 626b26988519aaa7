// An SQLite 3 file standing in for the Access database where no Access driver exists.
#include "polysomnography/sqlitepatientdatabase.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

QString SqlitePatientDatabase::driverStatement(const QString &statement) const
{
    // Access compares text without regard to case; SQLite only when told. Said here as well as in the
    // stand-in's schema, so a file made before the schema said it behaves the same.
    if (statement == lookupStatement())
        return statement + QStringLiteral("COLLATE NOCASE");
    // "SELECT TOP n rest" is "SELECT rest LIMIT n" in SQLite.
    static const QRegularExpression top(QStringLiteral("^\\s*SELECT\\s+TOP\\s+(\\d+)\\s+(.*)$"),
                                        QRegularExpression::CaseInsensitiveOption |
                                            QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = top.match(statement);
    if (!match.hasMatch())
        return statement;
    return QStringLiteral("SELECT ") + match.captured(2) + QStringLiteral(" LIMIT ") + match.captured(1);
}

QString SqlitePatientDatabase::driverName() const
{
    return QStringLiteral("QSQLITE");
}

void SqlitePatientDatabase::configure(QSqlDatabase &database, const QString &databasePath) const
{
    // Opened as a URI with mode=rw: SQLite would otherwise create a missing file and report success.
    QUrl uri = QUrl::fromLocalFile(databasePath);
    uri.setQuery(QStringLiteral("mode=rw"));
    database.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    // Another program holding a write lock is waited for at most two seconds; the event loop waits meanwhile.
    database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
}

bool SqlitePatientDatabase::verify(QSqlDatabase &database, QString *errorText) const
{
    // SQLite opens any file lazily; reading the schema is the first access that can fail, for instance with
    // "file is not a database". A database without the Patient table is not the application's either.
    QSqlQuery schema(database);
    if (!schema.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'Patient'"))) {
        *errorText = schema.lastError().text();
        return false;
    }
    if (!schema.next()) {
        *errorText = QStringLiteral("no Patient table");
        return false;
    }
    return true;
}
