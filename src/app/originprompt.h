// Asks the operator whether a web page from an unknown origin may drive the connector.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>

/// One box per origin; the connector goes on serving the connected page while it is open.
class OriginPrompt : public QObject
{
    Q_OBJECT

public:
    /// The prompt belongs to parent.
    explicit OriginPrompt(QObject *parent);

    static QString boxTitle();
    static QString boxText(const QString &origin);

public slots:
    /// Shows a box for origin unless one is open for it already.
    void ask(const QString &origin);

signals:
    /// The operator closed the box of origin: allowed only by its Allow button.
    void decided(const QString &origin, bool allow);

protected:
    /// A message box presses a button for its plain mnemonic letter; here only Alt with it counts, so a
    /// keystroke meant for another window never lets a page in.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QSet<QString> open;
};
