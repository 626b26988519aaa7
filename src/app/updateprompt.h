// Asks the operator about an available update and gives way to the setup program when it goes ahead.
#pragma once

#include <QObject>
#include <QUrl>

#include "update/updatedecision.h"

class QWidget;

class UpdatePrompt : public QObject
{
    Q_OBJECT

public:
    /// The boxes are modal to window, which also owns the prompt.
    UpdatePrompt(const QUrl &setupAddress, QWidget *window);

    static QString promptTitle();
    /// The text of the box shown for an update; empty for NoUpdate.
    static QString promptText(UpdateDecision decision);

public slots:
    /// A mandatory update, or an optional one the operator accepts, opens the setup program's address on
    /// the desktop and ends the process with status 0. The channel is served while the box is open.
    void promptOperator(UpdateDecision decision);

private:
    QUrl setupAddress;
    QWidget *window;
};
