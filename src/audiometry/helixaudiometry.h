// The connector's bridge to the audiometry application: exams and the application's installation.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <optional>

#include "audiometry/audiometrysettings.h"
#include "protocol/appfolder.h"
#include "protocol/patient.h"
#include "protocol/socketmessage.h"

/// One bridge serves one command from the page. An exam writes the request file, makes sure the
/// application runs and leaves the waiting for the result to a HelixExam; an installation hands the work
/// to a HelixInstallation. The bridge emits finished() once nothing is left to do, so it can be released.
class HelixAudiometry : public QObject
{
    Q_OBJECT

public:
    HelixAudiometry(const AppFolder &appFolder, const AudiometrySettings &settings);

    /// Carries out the "args" object of one command; every outcome is reported through the signals.
    void processCommand(QJsonObject args);

    /// Application folder + "Helix.exe".
    QString helixExe() const;
    /// Application folder + "XCHG": the request file goes here, the result file is looked for here.
    QString exchangeFolder() const;
    /// Whether the executable exists.
    bool helixExeExists() const;
    /// Creates the exchange folder when it is missing (that one folder only); whether it exists afterwards.
    bool ensureExchangeFolder() const;
    /// Both checks above; on failure the error (1001 or 1000) has been reported.
    bool checkHelix();

signals:
    void sendErrorMessage(SocketMessage);
    void sendMessage(SocketMessage, QJsonObject);
    /// The bridge has nothing left to do and may be released.
    void finished();

public slots:
    /// Writes the request file, makes sure the application runs and hands the waiting to a HelixExam.
    void startHelix(const Patient &patient);

private:
    void installHelix();
    QString requestFilePath() const;
    /// The request file's modification time once written; none when it cannot be written.
    std::optional<QDateTime> writeRequestFile(const Patient &patient);
    bool helixIsRunning() const;

    AppFolder appFolder;
    AudiometrySettings settings;
};
