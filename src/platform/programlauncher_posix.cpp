// Elsewhere an installer starts as any other program: nothing asks for rights on its behalf.
#include "platform/programlauncher.h"

bool startInstallerAndWait(const QString &program, const QString &workingDirectory)
{
    return startProgramDetached(program, {}, workingDirectory);
}
