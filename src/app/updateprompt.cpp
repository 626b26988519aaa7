// Asks the operator about an available update and gives way to the setup program when it goes ahead.
#include "app/updateprompt.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QWidget>

#include "app/processexit.h"
#include "platform/connectorlog.h"

UpdatePrompt::UpdatePrompt(const QUrl &setupAddress, QWidget *window)
    : QObject(window), setupAddress(setupAddress), window(window)
{}

QString UpdatePrompt::promptTitle()
{
    return QStringLiteral("Update available");
}

QString UpdatePrompt::promptText(UpdateDecision decision)
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

void UpdatePrompt::promptOperator(UpdateDecision decision)
{
    if (decision == UpdateDecision::NoUpdate)
        return;
    if (decision == UpdateDecision::Mandatory) {
        // Closed whichever way, the update goes ahead.
        QMessageBox::information(window, promptTitle(), promptText(decision), QMessageBox::Ok);
    } else if (QMessageBox::question(window, promptTitle(), promptText(decision), QMessageBox::Yes | QMessageBox::No) !=
               QMessageBox::Yes) {
        qCInfo(connectorLog) << "Optional update declined by the operator";
        return; // closing the box without a choice counts as No
    }
    qCInfo(connectorLog).noquote() << "Update: opening" << setupAddress.toString()
                                   << "in the browser; the connector ends";
    // The desktop's answer does not matter: the connector gives way to the setup program either way.
    QDesktopServices::openUrl(setupAddress);
    exitProcessNow();
}
