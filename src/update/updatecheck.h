// Asks the download server for the version manifest and tells whether a newer connector exists.
#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QUrl>

#include "update/updatedecision.h"

/// One check per checkNetworkVersion() call, each with its own network manager, released once its
/// manifest has been handled. What the operator is asked is left to whoever receives updateAvailable().
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    UpdateCheck(const QUrl &downloadServer, int ownVersion, QObject *parent = nullptr);

    /// Starts the GET of the manifest and returns at once. Runs on the GUI thread.
    void checkNetworkVersion();

    /// A check that receives nothing for this long ends, logged, and announces nothing.
    static constexpr int defaultAnswerTimeoutMs = 30 * 1000;
    /// For the checks started from now on.
    void setAnswerTimeout(int milliseconds) { answerTimeoutMs = milliseconds; }

    static QUrl manifestAddress(const QUrl &downloadServer);
    static QUrl setupAddress(const QUrl &downloadServer);

signals:
    /// The manifest announces a newer connector (Optional or Mandatory).
    void updateAvailable(UpdateDecision decision);

private slots:
    void networkVersionDownloaded(QNetworkReply *reply);
    void downloadError(QNetworkReply::NetworkError code);

private:
    QUrl server;
    int ownVersion;
    int answerTimeoutMs = defaultAnswerTimeoutMs;
};
