// Starts outside programs (the applications, their installer) detached from the connector.
#pragma once

#include <QString>
#include <QStringList>

/// The one way the connector starts a program it does not wait for. Tests put a recording launcher in
/// its place.
class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;

    /// Starts program (an absolute path, never looked up on the PATH) with these arguments, each passed
    /// as one argument whatever blanks it holds, in workingDirectory (empty: the connector's own).
    /// Whether the program started.
    virtual bool startDetached(const QString &program, const QStringList &arguments, const QString &workingDirectory);
};
