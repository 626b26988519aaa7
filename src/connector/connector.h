// The connector without its window: the operator channel, the routing, the origin policy and the update check.
#pragma once

#include <QObject>
#include <QString>

#include "channel/operatorchannel.h"
#include "connector/configuration.h"
#include "connector/workstation.h"
#include "update/updatedecision.h"

class CommandRouter;
class UpdateCheck;

/// Builds the connector's parts from the decided configuration and the workstation: the operator channel with
/// its origin policy, the routing of the page's commands to the bridges and, when configured, the update check.
/// It needs no window: whoever shows the connector listens to its signals and passes on the operator's answers.
class Connector : public QObject
{
    Q_OBJECT

public:
    /// originDecisionsFile: where the operator's decisions about page origins are kept (empty: in memory).
    Connector(const ConnectorConfiguration &configuration, const Workstation &workstation,
              const QString &originDecisionsFile, QObject *parent = nullptr);

    /// The connector's own version, compared with the update manifest's.
    static int ownVersion();
    /// The version as the log file's first line names it.
    static QString versionText();
    /// origin-decisions.json in the operator's application data folder (once the application's names are set).
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

public slots:
    /// The operator's answer about a page origin that originDecisionNeeded asked for.
    void decideOrigin(const QString &origin, bool allow);

signals:
    /// Whether the channel listens, once start() has tried.
    void serverStatus(bool listening);
    /// A page from an origin nobody has decided about waits; asked once per origin until decideOrigin.
    void originDecisionNeeded(const QString &origin);
    /// Every waiting page of that origin has gone: its question is no longer asked.
    void originQuestionWithdrawn(const QString &origin);
    /// The manifest announces a newer connector (Optional or Mandatory).
    void updateAvailable(UpdateDecision decision);

private:
    ConnectorConfiguration config;
    QString originDecisionsFile;
    OperatorChannel *operatorChannel;
    CommandRouter *commandRouter;
    UpdateCheck *updateCheck = nullptr;
};
