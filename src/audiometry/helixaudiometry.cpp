// The connector's bridge to the audiometry application.
#include "audiometry/helixaudiometry.h"

#include <QDebug>

#include "audiometry/helixinstallation.h"

HelixAudiometry::HelixAudiometry(QString appPath) : QObject(nullptr), appPath(std::move(appPath))
{
    qDebug() << "HelixAudiometry::HelixAudiometry()";
}

void HelixAudiometry::processCommand(QJsonObject args)
{
    if (args.value(QLatin1String("command")).toString() == QLatin1String("INSTALL_HELIX")) {
        installHelix();
        return;
    }
    emit finished();
}

void HelixAudiometry::installHelix()
{
    emit sendMessage(HELIX_INSTALL_PROGRESS, QJsonObject{{QStringLiteral("percent"), 0}});
    // A second request joins the running installation, whose frames reach the page anyway.
    if (HelixInstallation::current()) {
        emit finished();
        return;
    }
    auto *installation = new HelixInstallation(downloadServer, this);
    connect(installation, &HelixInstallation::report, this, &HelixAudiometry::sendMessage);
    connect(installation, &HelixInstallation::downloadProgress, this, &HelixAudiometry::downloadProgress);
    connect(installation, &HelixInstallation::downloadFailed, this, &HelixAudiometry::downloadError);
    connect(installation, &HelixInstallation::installFailed, this,
            [this] { emit sendErrorMessage(HELIX_INSTALL_FAILED); });
    connect(installation, &HelixInstallation::finished, this, &HelixAudiometry::finished);
    installation->start();
}

void HelixAudiometry::downloadProgress(qint64 recieved, qint64 total)
{
    if (const std::optional<qint64> percent = HelixInstallation::progressPercent(recieved, total))
        emit sendMessage(HELIX_INSTALL_PROGRESS, QJsonObject{{QStringLiteral("percent"), *percent}});
}

void HelixAudiometry::downloadError(QNetworkReply::NetworkError)
{
    emit sendErrorMessage(HELIX_DOWNLOAD_FAILED);
}
