// Starts outside programs (the applications, their installer) detached from the connector.
#include "platform/programlauncher.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>

#include <memory>
#include <mutex>
#include <thread>

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

/// Where an installer start running on its own thread reports to. The context's thread clears it when the context
/// goes, under the same lock under which the start posts its report, so a report is never posted to an object that
/// is being destroyed.
struct InstallerReport
{
    std::mutex mutex;
    QObject *context = nullptr;
    std::function<void(bool)> done;
};

} // namespace

bool startProgramDetached(const QString &program, const QStringList &arguments, const QString &workingDirectory)
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

bool ProgramLauncher::startDetached(const QString &program, const QStringList &arguments,
                                    const QString &workingDirectory)
{
    return startProgramDetached(program, arguments, workingDirectory);
}

void ProgramLauncher::startInstaller(const QString &program, const QString &workingDirectory, QObject *context,
                                     std::function<void(bool started)> done)
{
    auto report = std::make_shared<InstallerReport>();
    report->context = context;
    report->done = std::move(done);
    QObject::connect(context, &QObject::destroyed, [report] {
        const std::lock_guard<std::mutex> lock(report->mutex);
        report->context = nullptr;
    });
    // The start may wait for the administrator's consent for minutes; the thread is left to it. At the connector's
    // end a thread still waiting ends with the process, and its report goes nowhere.
    std::thread([report, start = installerStart, program, workingDirectory] {
        const bool started = start(program, workingDirectory);
        const std::lock_guard<std::mutex> lock(report->mutex);
        if (report->context)
            QMetaObject::invokeMethod(
                report->context, [report, started] { report->done(started); }, Qt::QueuedConnection);
    }).detach();
}
