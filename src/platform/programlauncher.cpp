// Starts outside programs (the applications, their installer) detached from the connector.
#include "platform/programlauncher.h"

#include <QProcess>

#include "platform/connectorlog.h"

bool ProgramLauncher::startDetached(const QString &program, const QStringList &arguments,
                                    const QString &workingDirectory)
{
    // What QProcess::startDetached(program, arguments, workingDirectory) does, keeping the reason of a failure.
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingDirectory);
    if (process.startDetached()) {
        qCInfo(connectorLog) << "Started" << program;
        return true;
    }
    qCWarning(connectorLog) << "Cannot start" << program << "in" << workingDirectory << ":" << process.errorString();
    return false;
}
