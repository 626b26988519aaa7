// The connector's bridge to the polysomnography application.
#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include "channel/socketmessage.h"
#include "platform/databasebackend.h"

/// Carries out one "POLYSOMNO" command: checks the installation under the application path and the
/// patient record, makes sure the patient is in the application's database, answers the page with the
/// patient's names and the measurement list, and starts the application.
class Polysomno : public QObject
{
    Q_OBJECT

public:
    explicit Polysomno(const QString &appPath);

    /// Carries out the "args" object of one command; emits finished() when done, whatever the outcome.
    void processCommand(QJsonObject args);

    void setDatabaseBackend(DatabaseBackend backend) { database = backend; }

    /// Whether the command may go on; emits the installation error itself when not.
    bool checkPolysomno();
    /// Names exeFile and tells whether the executable exists.
    bool polysomnoExeExists();
    /// Names dbFile and tells whether the database file exists.
    bool databaseExists();
    /// Whether the database's lock file exists, that is another program has the database open.
    bool databaseLocked();
    /// The entries of the measurement folder, each with the names one level inside it.
    QJsonArray listMeasurements();

signals:
    void sendErrorMessage(SocketMessage);
    void sendMessage(SocketMessage, QJsonObject);
    /// The bridge has nothing left to do and may be released.
    void finished();

private slots:
    void startPolysomno(QJsonObject patient);

private:
    void runCommand(const QJsonObject &args);

    QFile exeFile;
    QFile dbFile;
    QString appPath;
    DatabaseBackend database = defaultDatabaseBackend();
};
