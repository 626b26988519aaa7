// Creates stand-in polysomnography installations: an SQLite 3 file in place of SomnoDB.mdb, measurements.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace SomnoDb {

/// The Patient table as the connector relies on it.
QString patientTableStatement();

/// Creates a new database file at path with the given table statements (by default the Patient table).
/// Refuses to touch an existing file. On failure error holds the reason.
bool create(const QString &path, QString *error, const QStringList &statements = {patientTableStatement()});

/// Runs statements with their bound values against an existing database file.
bool execute(const QString &path, const QString &statement, const QVariantList &values, QString *error);

/// Adds a patient row with the application's usual fixed values for gender, height and weight.
bool addPatient(const QString &path, int patientId, const QString &code, const QString &name, const QString &vorname,
                const QString &birthDate, QString *error);

/// Every Patient row ordered by PatientID, each as column name to value (SQL NULL as a null QVariant).
std::optional<QList<QVariantMap>> patients(const QString &path, QString *error);

/// Fills folder with sample measurements: one folder per patient recording, one entry per night inside.
bool createSampleMeasurements(const QString &folder, QString *error);

/// Lays out a complete stand-in installation under appPath: bin/SomnoPanel.exe (a copy of standInExe),
/// SomnoDB/SomnoDB.mdb with a few patients, and a measurement folder with samples.
bool createDemoInstallation(const QString &appPath, const QString &standInExe, QString *error);

} // namespace SomnoDb
