// The connector without its window: the operator channel, the routing, the operator's consent and the update check.
#include "connector/connector.h"

#include <QStandardPaths>
#include <QTimer>

#include "connector/commandrouter.h"
#include "connector/folderconsent.h"
#include "platform/connectorlog.h"
#include "update/updatecheck.h"

Connector::Connector(const ConnectorConfiguration &configuration, const Workstation &workstation,
                     const QString &originDecisionsFile, QObject *parent)
    : QObject(parent), config(configuration),
      operatorDecisions(std::make_shared<OperatorDecisions>(originDecisionsFile)),
      operatorChannel(new OperatorChannel(this)),
      folderConsent(new FolderConsent(ApplicationFolders(config.applicationFolders), config.unknownApplicationFolders,
                                      operatorDecisions, workstation.clock ? workstation.clock : &realClock, this)),
      commandRouter(
          new CommandRouter(operatorChannel, folderConsent, config.downloadServer, config.database, workstation, this))
{
    operatorDecisions->load();
    folderConsent->setRemoteDriveCheck(workstation.isRemoteDrive);
    // Held commands are dated by the workstation's clock, as result files are.
    operatorChannel->setClock(workstation.clock);
    // One queue of questions for the operator, origins and folders together.
    operatorChannel->setQuestionsElsewhere([folders = folderConsent] { return folders->openQuestions(); });
    folderConsent->setQuestionsElsewhere([channel = operatorChannel] { return channel->openQuestions(); });
    connect(operatorChannel, &OperatorChannel::originDecisionNeeded, this, &Connector::originDecisionNeeded);
    connect(operatorChannel, &OperatorChannel::originQuestionWithdrawn, this, &Connector::originQuestionWithdrawn);
    connect(folderConsent, &FolderConsent::decisionNeeded, this, &Connector::folderDecisionNeeded);
    connect(folderConsent, &FolderConsent::questionWithdrawn, this, &Connector::folderQuestionWithdrawn);
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
    if (config.unknownApplicationFolders == UnknownPolicy::Allow)
        qCWarning(connectorLog) << "unknown_application_folders is \"allow\": pages may start programs from, and "
                                   "write into, every local folder they name.";
    const OriginPolicy policy(config.allowedOrigins, config.unknownOrigins, operatorDecisions);
    const bool listening = operatorChannel->startServer(config.listenAddresses, port, policy);
    emit serverStatus(listening);

    // Queued, the check runs once the event loop has started: in the program, after the window is shown. A
    // failed listen does not stop it, so a connector that cannot serve still learns of its fix.
    if (updateCheck)
        QTimer::singleShot(0, updateCheck, &UpdateCheck::checkNetworkVersion);
    return listening;
}

void Connector::decideOrigin(const QString &origin, bool allow, bool lasting)
{
    operatorChannel->decideOrigin(origin, allow, lasting);
}

void Connector::decideFolder(const QString &folder, bool allow, bool lasting)
{
    folderConsent->decide(folder, allow, lasting);
}

void Connector::forgetDecision(OperatorDecisions::Subject subject, const QString &name)
{
    operatorDecisions->forget(subject, name);
    qCInfo(connectorLog) << "The operator's decision forgotten about"
                         << (subject == OperatorDecisions::Subject::Origin ? "the page origin"
                                                                           : "the application folder")
                         << LoggedOrigin{name};
}
