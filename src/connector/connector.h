// The connector without its window: the operator channel, the routing, the operator's consent and the update check.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

#include "channel/operatorchannel.h"
#include "connector/configuration.h"
#include "connector/workstation.h"
#include "platform/clock.h"
#include "update/updatedecision.h"

class CommandRouter;
class FolderConsent;
class UpdateCheck;

/// Builds the connector's parts from the decided configuration and the workstation: the operator channel with
/// its origin policy, the routing of the page's commands to the bridges and, when configured, the update check.
/// It needs no window: whoever shows the connector listens to its signals and passes on the operator's answers.
class Connector : public QObject
{
    Q_OBJECT

public:
    /// originDecisionsFile: where the operator's decisions about page origins and application folders are kept
    /// (empty: in memory).
    Connector(const ConnectorConfiguration &configuration, const Workstation &workstation,
              const QString &originDecisionsFile, QObject *parent = nullptr);

    /// The connector's own version, compared with the update manifest's.
    static int ownVersion();
    /// The version as the log file's first line names it.
    static QString versionText();
    /// origin-decisions.json in the operator's application data folder (once the application's names are set);
    /// it holds the decisions about application folders too.
    static QString defaultOriginDecisionsFile();
    /// waiting-exams.json in the operator's local application data folder, beside the log file: the folders it
    /// names are this workstation's, so it must not roam to another.
    static QString defaultWaitingExamsFile();

    /// Listens on the configured addresses at port (0: a free one) and reports serverStatus; the update check,
    /// when configured, runs once the event loop turns. Whether at least one address listens. Called once.
    bool start(quint16 port = OperatorChannel::defaultPort);

    const ConnectorConfiguration &configuration() const { return config; }
    OperatorChannel *channel() const { return operatorChannel; }
    CommandRouter *router() const { return commandRouter; }
    FolderConsent *folders() const { return folderConsent; }

    /// Every decision of the operator's, for review.
    QList<OperatorDecisions::Entry> decisions() const { return operatorDecisions->entries(); }
    /// Forgets a decision, so the origin or folder is asked about again (a page already served stays served).
    void forgetDecision(OperatorDecisions::Subject subject, const QString &name);

public slots:
    /// The operator's answer about a page origin that originDecisionNeeded asked for; lasting false blocks it
    /// for this run only.
    void decideOrigin(const QString &origin, bool allow, bool lasting = true);
    /// The operator's answer about an application folder that folderDecisionNeeded asked for.
    void decideFolder(const QString &folder, bool allow, bool lasting = true);

signals:
    /// Whether the channel listens, once start() has tried.
    void serverStatus(bool listening);
    /// A page from an origin nobody has decided about waits; asked once per origin until decideOrigin.
    void originDecisionNeeded(const QString &origin);
    /// Every waiting page of that origin has gone: its question is no longer asked.
    void originQuestionWithdrawn(const QString &origin);
    /// The page from origin names an application folder nobody has decided about; its commands for it wait.
    void folderDecisionNeeded(const QString &origin, const QString &folder);
    /// The page whose commands waited for the folder has gone: its question is no longer asked.
    void folderQuestionWithdrawn(const QString &folder);
    /// The manifest announces a newer connector (Optional or Mandatory).
    void updateAvailable(UpdateDecision decision);

private:
    ConnectorConfiguration config;
    std::shared_ptr<OperatorDecisions> operatorDecisions;
    Clock realClock;
    OperatorChannel *operatorChannel;
    FolderConsent *folderConsent;
    CommandRouter *commandRouter;
    UpdateCheck *updateCheck = nullptr;
};
