// Starts outside programs (the applications, their installer) detached from the connector.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

/// Starts program (an absolute path, never looked up on the PATH) with these arguments, each passed as one
/// argument whatever blanks it holds, in workingDirectory (empty: the connector's own), and logs why when it
/// cannot. Whether the program started.
bool startProgramDetached(const QString &program, const QStringList &arguments, const QString &workingDirectory);

/// Starts an installer, without arguments, in workingDirectory, and returns once it runs or has been refused; the
/// reason of a refusal goes to the log. On Windows through the shell, which asks for administrator rights when the
/// installer's manifest wants them: the call then waits until the prompt is answered, minutes if nobody is there.
/// Elsewhere as startProgramDetached.
bool startInstallerAndWait(const QString &program, const QString &workingDirectory);

/// The one way the connector starts a program it does not wait for. Tests put a recording launcher in
/// its place.
class ProgramLauncher
{
public:
    /// How startInstaller starts an installer, on a thread of its own: startInstallerAndWait. Tests put a
    /// start of their own here.
    using InstallerStart = std::function<bool(const QString &program, const QString &workingDirectory)>;

    virtual ~ProgramLauncher() = default;

    /// startProgramDetached.
    virtual bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDirectory);

    /// Starts an installer without blocking the calling thread, which may go on serving pages while Windows asks
    /// for administrator rights. done(whether it started) runs later in context's thread, from its event loop,
    /// never inside this call; not at all once context is gone.
    virtual void startInstaller(const QString &program, const QString &workingDirectory, QObject *context,
                                std::function<void(bool started)> done);

    InstallerStart installerStart = startInstallerAndWait;
};
