// Asks the operator, one box at a time, whether a page from an unknown origin may drive the connector and
// whether a page may use an application folder nobody has decided about.
#include "app/originprompt.h"

#include <QDebug>

#include <algorithm>

#include "platform/connectorlog.h"

OriginPrompt::OriginPrompt(QObject *parent, int inputDelayMs) : QObject(parent), inputDelayMs(inputDelayMs) {}

OriginPrompt::~OriginPrompt()
{
    if (shown) {
        shown->disconnect(this);
        shown->close();
    }
}

QStringList OriginPrompt::originParagraphs(const QString &origin)
{
    return {QStringLiteral("A web page from"), origin,
            QStringLiteral("wants to control the SANvero Connector: register patients, write exam requests and start "
                           "programs on this workstation.\n\nMay this page control the connector?")};
}

QStringList OriginPrompt::folderParagraphs(const QString &origin, const QString &folder)
{
    return {QStringLiteral("The web page from"),
            origin.isEmpty() ? QStringLiteral("(a local program, no origin)") : origin,
            QStringLiteral("wants the SANvero Connector to start programs from, and write patient data into, the "
                           "folder"),
            folder, QStringLiteral("May this page use this folder?")};
}

void OriginPrompt::ask(const QString &origin)
{
    enqueue({false, origin, QString()});
}

void OriginPrompt::askFolder(const QString &origin, const QString &folder)
{
    enqueue({true, origin, folder});
}

void OriginPrompt::withdraw(const QString &origin)
{
    withdrawQuestion({false, origin, QString()});
}

void OriginPrompt::withdrawFolder(const QString &folder)
{
    withdrawQuestion({true, QString(), folder});
}

void OriginPrompt::enqueue(const Question &question)
{
    if ((shown && asked.sameAs(question)) ||
        std::any_of(queue.cbegin(), queue.cend(), [&](const Question &q) { return q.sameAs(question); }))
        return;
    if (queue.size() >= maxWaiting) {
        qCWarning(connectorLog) << "Too many questions to the operator: one more is blocked for this run";
        answer(question, false, false);
        return;
    }
    queue.append(question);
    showNext();
}

void OriginPrompt::withdrawQuestion(const Question &question)
{
    queue.erase(std::remove_if(queue.begin(), queue.end(), [&](const Question &q) { return q.sameAs(question); }),
                queue.end());
    if (shown && asked.sameAs(question)) {
        // Its page has gone: the box goes undecided, and the next question takes its place.
        ConsentBox *box = shown;
        shown = nullptr;
        box->disconnect(this);
        box->close();
        showNext();
    }
}

void OriginPrompt::showNext()
{
    if (shown || queue.isEmpty())
        return;
    asked = queue.takeFirst();
    shown = new ConsentBox(asked.aboutFolder ? folderParagraphs(asked.origin, asked.folder)
                                             : originParagraphs(asked.origin),
                           inputDelayMs);
    connect(shown, &ConsentBox::answered, this, [this](ConsentBox::Answer reply) {
        shown = nullptr;
        // A copy: the answer may lead to the next question at once, which takes the member's place.
        const Question question = asked;
        answer(question, reply == ConsentBox::Answer::Allow, reply != ConsentBox::Answer::BlockForNow);
        showNext();
    });
    shown->show();
}

void OriginPrompt::answer(const Question &question, bool allow, bool lasting)
{
    if (question.aboutFolder)
        emit folderDecided(question.folder, allow, lasting);
    else
        emit decided(question.origin, allow, lasting);
}
