// Asks the download server for the version manifest and, when a newer connector exists, prompts the operator.
#include "update/updatecheck.h"

#include <QDebug>
#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QWidget>

#include "app/processexit.h"

UpdateCheck::UpdateCheck(const QUrl &downloadServer, int ownVersion, QWidget *window)
    : QObject(window), server(downloadServer), ownVersion(ownVersion), window(window)
{}

QUrl UpdateCheck::manifestAddress(const QUrl &downloadServer)
{
    QUrl url = downloadServer;
    url.setPath(QStringLiteral("/versions/sanvero-connector-windows.json"));
    return url;
}

QUrl UpdateCheck::setupAddress(const QUrl &downloadServer)
{
    QUrl url = downloadServer;
    url.setPath(QStringLiteral("/sanvero-connector-setup.exe"));
    return url;
}

QString UpdateCheck::promptTitle()
{
    return QStringLiteral("Update available");
}

QString UpdateCheck::promptText(UpdateDecision decision)
{
    switch (decision) {
    case UpdateDecision::Mandatory:
        return QStringLiteral("A new version of the Application is available. This version is <b>mandatory</b>. "
                              "The application will be closed and the downloading will be lauched.");
    case UpdateDecision::Optional:
        return QStringLiteral("A new version of the Application is available. It's recommanded to update it now. "
                              "Would you like to download it now?");
    case UpdateDecision::NoUpdate:
        break;
    }
    return QString();
}

void UpdateCheck::checkNetworkVersion()
{
    // Each run has a manager of its own, released by networkVersionDownloaded.
    auto *manager = new QNetworkAccessManager;
    connect(manager, &QNetworkAccessManager::finished, this, &UpdateCheck::networkVersionDownloaded);
    QNetworkRequest request(manifestAddress(server));
    // A redirect answer is read as it stands, never followed (Qt 6 would follow it by default).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager->get(request);
    connect(reply, &QNetworkReply::errorOccurred, this, &UpdateCheck::downloadError);
}

void UpdateCheck::downloadError(QNetworkReply::NetworkError code)
{
    Q_UNUSED(code)
    qDebug() << "error";
}

void UpdateCheck::networkVersionDownloaded(QNetworkReply *reply)
{
    const QByteArray manifest = reply->readAll();
    // The reply is a child of its manager; both go once control is back in the event loop.
    reply->manager()->deleteLater();

    const UpdateDecision decision = decideUpdate(manifest, ownVersion);
    if (decision == UpdateDecision::NoUpdate)
        return;
    if (promptOperator(decision))
        openSetupAndExit();
}

bool UpdateCheck::promptOperator(UpdateDecision decision)
{
    if (decision == UpdateDecision::Mandatory) {
        // Closed whichever way, the update goes ahead.
        QMessageBox::information(window, promptTitle(), promptText(decision), QMessageBox::Ok);
        return true;
    }
    // Closing the box without a choice counts as No.
    return QMessageBox::question(window, promptTitle(), promptText(decision), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void UpdateCheck::openSetupAndExit()
{
    // The desktop's answer does not matter: the connector gives way to the setup program either way.
    QDesktopServices::openUrl(setupAddress(server));
    exitProcessNow();
}
