// The connector's bridge to the audiometry application.
#pragma once

#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

#include "channel/socketmessage.h"

class HelixAudiometry : public QObject
{
    Q_OBJECT

public:
    explicit HelixAudiometry(QString appPath);

    /// Carries out the "args" object of one command.
    void processCommand(QJsonObject args);

    void setDownloadServer(const QUrl &server) { downloadServer = server; }
    /// Tells the bridge whether a page is connected to receive its reports.
    void setPageConnected(std::function<bool()> check) { pageConnected = std::move(check); }

signals:
    void sendErrorMessage(SocketMessage);
    void sendMessage(SocketMessage, QJsonObject);
    /// The bridge has nothing left to do and may be released.
    void finished();

public slots:
    void downloadProgress(qint64 recieved, qint64 total);
    void downloadError(QNetworkReply::NetworkError);

private:
    void installHelix();

    QString appPath;
    QUrl downloadServer;
    std::function<bool()> pageConnected = [] { return true; };
};
