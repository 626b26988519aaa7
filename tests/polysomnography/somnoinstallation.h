// A stand-in polysomnography installation in its own temporary folder, for the tests.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include "somnodb.h"

/// Lays out appPath + "bin/SomnoPanel.exe", "SomnoDB/SomnoDB.mdb", its lock file and "measurement" on
/// request, and reads back what the connector left: database rows and the real stand-in's recorded starts.
class SomnoInstallation
{
public:
    /// folderName is the installation folder inside the temporary folder; it may hold blanks.
    explicit SomnoInstallation(const QString &folderName = QStringLiteral("SomnoPanel"));

    /// The application path as a page sends it, with its trailing separator.
    QString appPath() const { return root + QLatin1Char('/'); }
    QString executablePath() const { return root + QStringLiteral("/bin/SomnoPanel.exe"); }
    QString databasePath() const { return root + QStringLiteral("/SomnoDB/SomnoDB.mdb"); }
    QString lockPath() const { return root + QStringLiteral("/SomnoDB/SomnoDB.mdb.ldb"); }
    QString measurementPath() const { return root + QStringLiteral("/measurement"); }

    /// The built stand-in application.
    static QString standInExecutable();

    bool addExecutable();
    /// A new database holding the Patient table, or the given table statements instead.
    bool createDatabase(const QStringList &statements = {SomnoDb::patientTableStatement()});
    bool addPatient(int patientId, const QString &code, const QString &name = QStringLiteral("Muster"),
                    const QString &vorname = QStringLiteral("Max"));
    /// Replaces the database file with these bytes.
    bool writeDatabaseBytes(const QByteArray &bytes);
    bool addLockFile();
    /// Everything the connector needs: executable and an empty Patient table.
    bool addComplete() { return addExecutable() && createDatabase(); }
    /// Creates a file (or with a trailing '/' a folder) inside the measurement folder, with parents.
    bool addMeasurementEntry(const QString &relativePath);

    /// Every Patient row ordered by PatientID; fails the current test when the file can't be read.
    QList<QVariantMap> patients() const;
    /// The starts the stand-in recorded: {"cwd": ..., "arguments": [...]} each.
    QList<QJsonObject> starts() const;

    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
    QString root;
};

/// A patient record with every key the connector requires.
QJsonObject completePatient(const QString &code = QStringLiteral("PSG-1001"));

/// From now on every debug line of the test process is kept in debugLines() instead of printed.
void captureDebugLines();
/// The debug lines captured so far; a test clears it before the command it looks at.
QStringList &debugLines();
/// Whether the default SQL connection is released and Qt never warned about a connection still in use.
bool sqlConnectionReleased();
