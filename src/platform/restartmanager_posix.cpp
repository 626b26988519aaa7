// Elsewhere no installer closes running programs: nothing to register, nothing to close.
#include "platform/restartmanager.h"

void registerRestartAfterUpdate(const QStringList &) {}

bool closeProgramsUsing(const QString &)
{
    return true;
}
