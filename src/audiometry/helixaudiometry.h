// The connector's bridge to the audiometry application: exams and the application's installation.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include "audiometry/audiometrysettings.h"
#include "protocol/appfolder.h"
#include "protocol/patient.h"
#include "protocol/socketmessage.h"

/// One bridge serves one command from the page. An exam writes the request file, makes sure the
/// application runs and polls the exchange folder for the result; an installation hands the work to
/// a HelixInstallation. The bridge emits finished() once nothing is left to do, so it can be released.
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

    /// A result file must have been left alone this long before it is read, so that a file the
    /// application is still writing is not taken half-written.
    static constexpr qint64 resultSettleMs = 500;
    static constexpr int pollIntervalMs = 500;

signals:
    void sendErrorMessage(SocketMessage);
    void sendMessage(SocketMessage, QJsonObject);
    /// The bridge has nothing left to do and may be released.
    void finished();

public slots:
    void startHelix(const Patient &patient);
    void helixGaveUsResultFile(QString file);
    void watchHelixFolder();

private:
    void installHelix();
    bool writeRequestFile(const Patient &patient);
    static bool helixIsRunning();
    QString resultFilePath() const;
    bool resultFileSettled(const QString &path);

    AppFolder appFolder;
    AudiometrySettings settings;
    QTimer pollTimer;

    // What the previous poll saw of a result file whose time stamp lies ahead of the clock.
    qint64 seenSize = -1;
    qint64 seenModified = -1;
};
