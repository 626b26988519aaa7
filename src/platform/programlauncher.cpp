// Starts outside programs (the applications, their installer) detached from the connector.
#include "platform/programlauncher.h"

#include <QFileInfo>
#include <QProcess>

#include "platform/connectorlog.h"

namespace {

/// What keeps a program from starting, as far as the file system tells: QProcess often says only "Unknown error".
QString startProblem(const QString &program, const QString &workingDirectory)
{
    const QFileInfo info(program);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!workingDirectory.isEmpty() && !QFileInfo(workingDirectory).isDir())
        return QStringLiteral("no such working folder");
    if (!info.isExecutable())
        return QStringLiteral("not executable");
    return QString();
}

} // namespace

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
    qCWarning(connectorLog) << "Cannot start" << program << "in" << workingDirectory << ":" << process.errorString()
                            << startProblem(program, workingDirectory);
    return false;
}
