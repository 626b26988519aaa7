// Asks the download server for the version manifest and, when a newer connector exists, prompts the operator.
#pragma once

#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include "update/updatedecision.h"

class QWidget;

/// One check per checkNetworkVersion() call, each with its own network manager, released once its
/// manifest has been handled. An update that is mandatory or accepted opens the setup program's address
/// on the desktop and ends the process with status 0.
class UpdateCheck : public QObject
{
    Q_OBJECT

public:
    /// The prompts are modal to window, which also owns the check.
    UpdateCheck(const QUrl &downloadServer, int ownVersion, QWidget *window);

    /// Starts the GET of the manifest and returns at once. Runs on the GUI thread.
    void checkNetworkVersion();

    static QUrl manifestAddress(const QUrl &downloadServer);
    static QUrl setupAddress(const QUrl &downloadServer);
    static QString promptTitle();
    /// The text of the box shown for an update; empty for NoUpdate.
    static QString promptText(UpdateDecision decision);

private slots:
    void networkVersionDownloaded(QNetworkReply *reply);
    void downloadError(QNetworkReply::NetworkError code);

private:
    /// Shows the box for the decision; true when the setup program is to be fetched.
    bool promptOperator(UpdateDecision decision);
    [[noreturn]] void openSetupAndExit();

    QUrl server;
    int ownVersion;
    QWidget *window;
};
