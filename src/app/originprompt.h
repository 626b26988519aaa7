// Asks the operator, one box at a time, whether a page from an unknown origin may drive the connector and
// whether a page may use an application folder nobody has decided about.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "app/consentbox.h"

class OriginPrompt : public QObject
{
    Q_OBJECT

public:
    /// Questions waiting behind the box shown. The connector asks no more (it refuses the pages first); a
    /// further one is blocked for this run without a box.
    static constexpr int maxWaiting = 8;

    /// The prompt belongs to parent; inputDelayMs: how long each box takes no input after it appeared.
    explicit OriginPrompt(QObject *parent, int inputDelayMs = ConsentBox::defaultInputDelayMs);
    /// Its box goes with it, undecided.
    ~OriginPrompt() override;

    static QStringList originParagraphs(const QString &origin);
    static QStringList folderParagraphs(const QString &origin, const QString &folder);

    /// The box shown now, if any.
    ConsentBox *shownBox() const { return shown; }
    int waiting() const { return int(queue.size()); }

public slots:
    /// Asks about origin unless it is asked about already.
    void ask(const QString &origin);
    /// Asks whether the page from origin may use folder, unless folder is asked about already.
    void askFolder(const QString &origin, const QString &folder);
    /// The question about origin is void: its box closes undecided, or it leaves the queue.
    void withdraw(const QString &origin);
    void withdrawFolder(const QString &folder);

signals:
    /// The operator's answer about origin: allowed only by its Allow button; lasting false for a box closed
    /// without a button (or Escape), which blocks for this run only.
    void decided(const QString &origin, bool allow, bool lasting);
    void folderDecided(const QString &folder, bool allow, bool lasting);

private:
    struct Question
    {
        bool aboutFolder = false;
        QString origin;
        QString folder;
        bool sameAs(const Question &other) const
        {
            return aboutFolder == other.aboutFolder && (aboutFolder ? folder == other.folder : origin == other.origin);
        }
    };

    void enqueue(const Question &question);
    void withdrawQuestion(const Question &question);
    void showNext();
    void answer(const Question &question, bool allow, bool lasting);

    int inputDelayMs;
    QList<Question> queue;
    Question asked; // the question of the box shown
    QPointer<ConsentBox> shown;
};
