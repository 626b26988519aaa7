// Which application folders the page's commands may use: listed ones, decided ones, and the operator's answer.
#include "connector/folderconsent.h"

#include <QDebug>

#include <utility>

#include "channel/handshakelog.h"
#include "platform/clock.h"
#include "platform/connectorlog.h"

FolderConsent::FolderConsent(const ApplicationFolders &listed, UnknownPolicy unknown,
                             std::shared_ptr<OperatorDecisions> decisions, const Clock *clock, QObject *parent)
    : QObject(parent), listed(listed), unknown(unknown), decisions(std::move(decisions)), clock(clock)
{}

ConsentVerdict FolderConsent::verdict(const QString &folder) const
{
    return consentVerdict(listed.lists(folder), unknown,
                          decisions->decision(OperatorDecisions::Subject::Folder, folder));
}

FolderConsent::Outcome FolderConsent::admit(const Envelope &envelope, const QString &origin)
{
    const QString folder = ApplicationFolders::normalised(envelope.appFolder.path());
    // A drive letter mapped to a share is as remote as "\\server\share", which the envelope refuses already: only a
    // folder the configuration lists may lie there, and the operator is not asked about one.
    if (isRemoteDrive(envelope.appFolder.path()) && !listed.lists(folder)) {
        qCWarning(connectorLog) << "Command refused: the application folder lies on a network drive";
        return Outcome::Refused;
    }
    switch (verdict(folder)) {
    case ConsentVerdict::Serve:
        return Outcome::Go;
    case ConsentVerdict::Refuse:
        return Outcome::Refused;
    case ConsentVerdict::Ask:
        break;
    }
    // The operator's screen and the connector's memory stay bounded, whatever the page sends.
    if (held.size() >= maxHeldCommands) {
        qCWarning(connectorLog) << "Command refused: too many commands wait for the operator";
        return Outcome::Refused;
    }
    if (!asking.contains(folder)) {
        if (int(asking.size()) + questionsElsewhere() >= maxOpenQuestions) {
            qCWarning(connectorLog) << "Command refused: too many questions to the operator";
            return Outcome::Refused;
        }
        asking.insert(folder);
        // The page's text: quoted, so no line break of it reaches the log file.
        qCInfo(connectorLog) << "Application folder waits for the operator's decision:" << LoggedOrigin{folder};
        emit decisionNeeded(origin, folder);
    }
    held.append({folder, envelope, clock->now()});
    return Outcome::Held;
}

void FolderConsent::decide(const QString &folder, bool allow, bool lasting)
{
    asking.remove(folder);
    decisions->remember(OperatorDecisions::Subject::Folder, folder, allow, lasting);
    qCInfo(connectorLog) << (allow     ? "Application folder allowed by the operator:"
                             : lasting ? "Application folder blocked by the operator:"
                                       : "Application folder blocked by the operator for this run:")
                         << LoggedOrigin{folder};
    QList<HeldCommand> answered;
    for (auto command = held.begin(); command != held.end();) {
        if (command->folder == folder) {
            answered.append(*command);
            command = held.erase(command);
        } else {
            ++command;
        }
    }
    const QDateTime decided = clock->now();
    for (const HeldCommand &command : std::as_const(answered)) {
        if (allow && command.received.secsTo(decided) <= heldCommandLifetimeSeconds) {
            emit released(command.envelope);
            continue;
        }
        if (allow)
            qCWarning(connectorLog) << "Held command refused: it waited more than" << heldCommandLifetimeSeconds
                                    << "s for the operator";
        emit heldCommandRefused();
    }
}

void FolderConsent::dropHeld()
{
    if (!held.isEmpty())
        qCInfo(connectorLog) << held.size() << "held command(s) dropped: their page has gone";
    held.clear();
    const QSet<QString> withdrawn = std::exchange(asking, {});
    for (const QString &folder : withdrawn)
        emit questionWithdrawn(folder);
}
