// The connector's bridge to the audiometry application: exams and the application's installation.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

#include "channel/socketmessage.h"

/// One bridge serves one command from the page. An exam writes the request file, makes sure the
/// application runs and polls the exchange folder for the result; an installation hands the work to
/// a HelixInstallation. The bridge emits finished() once nothing is left to do, so it can be released.
class HelixAudiometry : public QObject
{
    Q_OBJECT

public:
    explicit HelixAudiometry(QString appPath);

    /// Carries out the "args" object of one command; every outcome is reported through the signals.
    void processCommand(QJsonObject args);

    void setDownloadServer(const QUrl &server) { downloadServer = server; }
    /// Tells the bridge whether a page is connected to receive its reports. A result found while no
    /// page is connected is left in place until one is.
    void setPageConnected(std::function<bool()> check) { pageConnected = std::move(check); }

    /// Whether application path + "Helix.exe" exists.
    bool helixExeExists();
    /// Points the exchange folder at application path + "XCHG", creating that one folder when
    /// missing; whether it exists afterwards.
    bool ensureExchangeFolder();
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
    void downloadProgress(qint64 recieved, qint64 total);
    void downloadError(QNetworkReply::NetworkError);
    void startHelix(QJsonObject patient);
    void helixGaveUsResultFile(QString file);
    void watchHelixFolder();

private:
    void installHelix();
    bool writeRequestFile(const QJsonObject &patient);
    static bool helixIsRunning();
    QString resultFilePath() const;
    bool resultFileSettled(const QString &path);

    QFile exeFile;
    QDir exchangeFolder;
    QString appPath;
    QTimer pollTimer;
    QUrl downloadServer;
    std::function<bool()> pageConnected = [] { return true; };

    // What the previous poll saw of a result file whose time stamp lies ahead of the clock.
    qint64 seenSize = -1;
    qint64 seenModified = -1;
};
