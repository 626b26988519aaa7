// The connector and Windows' Restart Manager, through which installers close and restart running programs.
#pragma once

#include <QString>
#include <QStringList>

/// Asks Windows to start the connector again, with these arguments, after an installer closed it through the
/// Restart Manager (an update): pages would otherwise find no connector until the next logon. Not after a crash,
/// a hang or a restart of Windows (the logon shortcut starts it then). Elsewhere there is nothing to register.
void registerRestartAfterUpdate(const QStringList &arguments);

/// Asks every program that holds file open, in any session, to close, as an installer would through the Restart
/// Manager: a request each program answers by ending itself, never a forced end. This process is left out. Whether
/// every one closed (elsewhere: true, nothing to do). Each step is logged.
bool closeProgramsUsing(const QString &file);
