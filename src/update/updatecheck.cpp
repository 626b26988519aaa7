// Asks the download server for the version manifest and tells whether a newer connector exists.
#include "update/updatecheck.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include "platform/connectorlog.h"
#include "platform/networkfailure.h"

UpdateCheck::UpdateCheck(const QUrl &downloadServer, int ownVersion, QObject *parent)
    : QObject(parent), server(downloadServer), ownVersion(ownVersion)
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

void UpdateCheck::checkNetworkVersion()
{
    // Each run has a manager of its own, released by networkVersionDownloaded.
    auto *manager = new QNetworkAccessManager;
    connect(manager, &QNetworkAccessManager::finished, this, &UpdateCheck::networkVersionDownloaded);
    QNetworkRequest request(manifestAddress(server));
    // A redirect answer is read as it stands, never followed (Qt 6 would follow it by default).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // A server or proxy that accepts the connection and never answers would otherwise hold the check for ever.
    request.setTransferTimeout(answerTimeoutMs);
    QNetworkReply *reply = manager->get(request);
    connect(reply, &QNetworkReply::errorOccurred, this, &UpdateCheck::downloadError);
}

void UpdateCheck::downloadError(QNetworkReply::NetworkError code)
{
    qDebug() << "error";
    const auto *reply = qobject_cast<QNetworkReply *>(sender());
    qCWarning(connectorLog).noquote() << "Update check failed: error" << int(code)
                                      << (reply ? networkFailureText(*reply, answerTimeoutMs) : QString());
}

void UpdateCheck::networkVersionDownloaded(QNetworkReply *reply)
{
    const QByteArray manifest = reply->readAll();
    // The reply is a child of its manager; both go once control is back in the event loop.
    reply->manager()->deleteLater();

    const UpdateDecision decision = decideUpdate(manifest, ownVersion);
    qCInfo(connectorLog) << "Update check:"
                         << (decision == UpdateDecision::Mandatory  ? "mandatory update"
                             : decision == UpdateDecision::Optional ? "optional update"
                                                                    : "no update");
    if (decision != UpdateDecision::NoUpdate)
        emit updateAvailable(decision);
}
