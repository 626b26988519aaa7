// Starts outside programs (the applications, their installer) detached from the connector.
#include "platform/programlauncher.h"

#include <QProcess>

bool ProgramLauncher::startDetached(const QString &program, const QStringList &arguments,
                                    const QString &workingDirectory)
{
    return QProcess::startDetached(program, arguments, workingDirectory);
}
