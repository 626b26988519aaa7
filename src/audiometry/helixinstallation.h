// One installation of the audiometry application: download or reuse the archive, unpack it, start the installer.
#pragma once

#include <QJsonObject>
#include <QNetworkReply>
#include <QObject>
#include <QUrl>

#include "channel/socketmessage.h"

class HelixInstallation : public QObject
{
    Q_OBJECT

public:
    /// The installation that is running now, if any; a second request joins it instead of starting another.
    static HelixInstallation *current();

    explicit HelixInstallation(const QUrl &downloadServer, QObject *parent = nullptr);
    ~HelixInstallation() override;

    /// Begins the work; every report arrives through the signals, none before this call.
    void start();

signals:
    /// A message frame of the installation (1003, 1004, 1009).
    void report(SocketMessage code, QJsonObject payload);
    /// Progress of the archive download, for the bridge's percentage report.
    void downloadProgress(qint64 received, qint64 total);
    /// The download failed (network error or an HTTP status other than 2xx); the installation ends.
    void downloadFailed(QNetworkReply::NetworkError code);
    /// Writing, unpacking or finding the installer failed; nothing was started.
    void installFailed();
    /// The installation is over, whichever way.
    void finished();

private:
    QUrl downloadServer;
};
