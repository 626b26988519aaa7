// The connector without its window: the operator channel, the routing, the origin policy and the update check.
#include "connector/connector.h"

#include <QStandardPaths>
#include <QTimer>

#include "connector/commandrouter.h"
#include "platform/connectorlog.h"
#include "update/updatecheck.h"

Connector::Connector(const ConnectorConfiguration &configuration, const Workstation &workstation,
                     const QString &originDecisionsFile, QObject *parent)
    : QObject(parent), config(configuration), originDecisionsFile(originDecisionsFile),
      operatorChannel(new OperatorChannel(this)),
      commandRouter(new CommandRouter(operatorChannel, config.downloadServer, config.database, workstation, this))
{
    // Held commands are dated by the workstation's clock, as result files are.
    operatorChannel->setClock(workstation.clock);
    connect(operatorChannel, &OperatorChannel::originDecisionNeeded, this, &Connector::originDecisionNeeded);
    connect(operatorChannel, &OperatorChannel::originQuestionWithdrawn, this, &Connector::originQuestionWithdrawn);
    if (config.checkUpdates) {
        updateCheck = new UpdateCheck(config.downloadServer, ownVersion(), this);
        connect(updateCheck, &UpdateCheck::updateAvailable, this, &Connector::updateAvailable);
    }
}

int Connector::ownVersion()
{
    return CONNECTOR_VERSION;
}

QString Connector::versionText()
{
    return QStringLiteral(CONNECTOR_VERSION_TEXT);
}

QString Connector::defaultOriginDecisionsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/origin-decisions.json");
}

QString Connector::defaultWaitingExamsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/waiting-exams.json");
}

bool Connector::start(quint16 port)
{
    // Work the bridges must do before a page can connect goes here, ahead of the channel.

    if (config.unknownOrigins == OriginPolicy::Unknown::Allow)
        qCWarning(connectorLog) << "unknown_origins is \"allow\": pages from every origin may control the connector.";
    const OriginPolicy policy(config.allowedOrigins, config.unknownOrigins, originDecisionsFile);
    const bool listening = operatorChannel->startServer(config.listenAddresses, port, policy);
    emit serverStatus(listening);

    // Queued, the check runs once the event loop has started: in the program, after the window is shown. A
    // failed listen does not stop it, so a connector that cannot serve still learns of its fix.
    if (updateCheck)
        QTimer::singleShot(0, updateCheck, &UpdateCheck::checkNetworkVersion);
    return listening;
}

void Connector::decideOrigin(const QString &origin, bool allow)
{
    operatorChannel->decideOrigin(origin, allow);
}
