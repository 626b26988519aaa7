// Asks the operator whether a web page from an unknown origin may drive the connector.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class OperatorChannel;

/// One box per origin; the channel goes on serving the connected page while it is open.
class OriginPrompt : public QObject
{
    Q_OBJECT

public:
    /// Answers the channel's questions; the prompt belongs to parent.
    OriginPrompt(OperatorChannel *channel, QObject *parent);

    static QString boxTitle();
    static QString boxText(const QString &origin);

public slots:
    void ask(const QString &origin);

protected:
    /// A message box presses a button for its plain mnemonic letter; here only Alt with it counts, so a
    /// keystroke meant for another window never lets a page in.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    OperatorChannel *channel;
    QSet<QString> open;
};
