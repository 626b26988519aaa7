// Which application folders the page's commands may use: listed ones, decided ones, and the operator's answer.
#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

#include "channel/operatordecisions.h"
#include "platform/remotedrive.h"
#include "protocol/applicationfolders.h"
#include "protocol/consent.h"
#include "protocol/envelope.h"

class Clock;

/// A command whose folder the operator is being asked about waits here, untouched: nothing is written or
/// started for it before Allow. The check comes before every other, so a page learns nothing about a folder
/// nobody allowed.
class FolderConsent : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        Go,      // carry it out now
        Refused, // answer INVALID_ARGUMENTS
        Held,    // waits for the operator; released or refused later through the signals
    };

    /// Commands waiting for the operator, all folders together; a further one is refused.
    static constexpr int maxHeldCommands = 16;
    /// A held command older than this when the operator allows its folder is refused instead: the patient on
    /// the operator's screen may have changed meanwhile.
    static constexpr int heldCommandLifetimeSeconds = 60;

    /// decisions: shared with the origin policy (one file). clock: dates held commands; not owned.
    FolderConsent(const ApplicationFolders &listed, UnknownPolicy unknown, std::shared_ptr<OperatorDecisions> decisions,
                  const Clock *clock, QObject *parent = nullptr);

    /// Questions to the operator asked elsewhere (about page origins): together with this one's they stay
    /// within maxOpenQuestions, beyond which a new folder is refused without a question.
    void setQuestionsElsewhere(std::function<int()> count) { questionsElsewhere = std::move(count); }
    static constexpr int maxOpenQuestions = 9;
    /// Folders the operator is being asked about now.
    int openQuestions() const { return int(asking.size()); }
    /// Which folders lie on a drive letter mapped to a network share: only listed ones are served there.
    void setRemoteDriveCheck(std::function<bool(const QString &folder)> check) { isRemoteDrive = std::move(check); }

    /// The verdict for a command of the page from origin; a held command is kept.
    Outcome admit(const Envelope &envelope, const QString &origin);
    /// The operator's answer about folder (in its normalised form). Allow: its held commands are released in
    /// order; Block: each is refused. lasting false: a block for this run only.
    void decide(const QString &folder, bool allow, bool lasting = true);
    /// The page that sent the held commands has gone: they are dropped unanswered and the questions withdrawn.
    void dropHeld();

signals:
    /// Asks the operator whether the page from origin may use folder (normalised); once per folder until decide.
    void decisionNeeded(const QString &origin, const QString &folder);
    /// Nothing waits for the answer about folder any more.
    void questionWithdrawn(const QString &folder);
    /// A held command whose folder was allowed: carry it out.
    void released(const Envelope &envelope);
    /// A held command refused: answer INVALID_ARGUMENTS.
    void heldCommandRefused();

private:
    struct HeldCommand
    {
        QString folder;
        Envelope envelope;
        QDateTime received;
    };

    ConsentVerdict verdict(const QString &folder) const;

    ApplicationFolders listed;
    UnknownPolicy unknown;
    std::shared_ptr<OperatorDecisions> decisions;
    const Clock *clock;
    QList<HeldCommand> held;
    QSet<QString> asking;
    std::function<int()> questionsElsewhere = [] { return 0; };
    std::function<bool(const QString &folder)> isRemoteDrive = ::isRemoteDrive;
};
