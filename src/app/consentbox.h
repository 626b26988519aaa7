// The box in which the operator decides whether a page may drive the connector or use a folder.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTimer>

class QFontMetrics;
class QLabel;
class QPushButton;

/// A box that cannot be clicked through: its buttons take no input until it has been visible for the input
/// delay; focus starts on Block and keyboard navigation reaches only Block, so Allow takes Alt+A or a click.
/// The names it asks about are shown whole, broken wherever needed, never cut at its edge.
class ConsentBox : public QDialog
{
    Q_OBJECT

public:
    enum class Answer
    {
        Allow,
        Block,       // the Block button: remembered
        BlockForNow, // closed or Escape: for this run only
    };

    static constexpr int defaultInputDelayMs = 1000;

    /// paragraphs alternate: text, a name, text, ... (a name at every odd index).
    ConsentBox(const QStringList &paragraphs, int inputDelayMs = defaultInputDelayMs);

    static QString title();
    /// A name as the box shows it: control and formatting characters (line breaks, direction overrides) as
    /// \uXXXX, so what the operator reads is what the page sent.
    static QString visible(const QString &name);
    /// The name broken into lines of at most width pixels each, anywhere in it.
    static QStringList brokenLines(const QString &name, const QFontMetrics &metrics, int width);

    QPushButton *allowButton() const { return allow; }
    QPushButton *blockButton() const { return block; }
    /// The labels that show the names.
    QList<QLabel *> nameLabels() const { return names; }

signals:
    /// Once, when the box is decided or closed; the box then goes.
    void answered(ConsentBox::Answer answer);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void arm();
    void finish(Answer answer);

    QPushButton *allow;
    QPushButton *block;
    QList<QLabel *> names;
    QTimer armTimer;
    bool done = false;
};
