// The connector's bridge to the polysomnography application.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include "polysomnography/polysomnosettings.h"
#include "protocol/appfolder.h"
#include "protocol/patient.h"
#include "protocol/socketmessage.h"

#include <optional>

class PatientDatabase;

/// Carries out one "POLYSOMNO" command: checks the installation under the application path and the
/// patient record, makes sure the patient is in the application's database, answers the page with the
/// patient's names and the measurement list, and starts the application.
class Polysomno : public QObject
{
    Q_OBJECT

public:
    Polysomno(const AppFolder &appFolder, const PolysomnoSettings &settings);

    /// Carries out the "args" object of one command; emits finished() when done, whatever the outcome.
    void processCommand(QJsonObject args);

    /// Whether the command may go on; emits the installation error itself when not.
    bool checkPolysomno();
    /// Application folder + "bin\\SomnoPanel.exe".
    QString polysomnoExe() const;
    /// Application folder + "SomnoDB\\SomnoDB.mdb".
    QString databaseFile() const;
    bool polysomnoExeExists() const;
    bool databaseExists() const;
    /// Why the database must not be opened now, judged by its lock files "SomnoDB.mdb.ldb" and the database
    /// engine's "SomnoDB.ldb" (see checkLockFile): POLYSOMNO_DB_IN_USE while a program holds one open,
    /// POLYSOMNO_DB_OPEN_FAILED when the system cannot tell. Nothing for missing or stale lock files.
    std::optional<SocketMessage> databaseLocked() const;
    /// The entries of the measurement folder, each with the names one level inside it.
    QJsonArray listMeasurements() const;

signals:
    void sendErrorMessage(SocketMessage);
    void sendMessage(SocketMessage, QJsonObject);
    /// The bridge has nothing left to do and may be released.
    void finished();

private slots:
    void startPolysomno(const Patient &patient);

private:
    void runCommand(const QJsonObject &args);
    /// Makes sure the patient is in the open database; the error to report when not.
    std::optional<SocketMessage> registerPatient(PatientDatabase &db, const Patient &patient);

    AppFolder appFolder;
    PolysomnoSettings settings;
};
