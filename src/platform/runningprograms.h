// Which programs run now, as the audiometry bridge asks before it starts the application.
#pragma once

#include <QList>
#include <QString>

#include <algorithm>

#include "platform/processlist.h"

/// The system's process list; tests put a list of their own in its place.
class RunningPrograms
{
public:
    struct Process
    {
        QString name;    ///< the executable's file name
        bool ownSession; ///< the operator's own process, see ProcessEntry
    };

    virtual ~RunningPrograms() = default;

    virtual QList<Process> processes() const
    {
        QList<Process> result;
        for (const ProcessEntry &entry : runningProcesses())
            result.append({QString::fromStdString(entry.name), entry.ownSession});
        return result;
    }

    /// Whether the operator's own session runs a program of exactly this file name, ignoring case as
    /// Windows file names do. Another user's copy does not count: the operator could not use it, and
    /// waiting for its result would wait for ever.
    bool runs(const QString &executableName) const
    {
        const QList<Process> all = processes();
        return std::any_of(all.begin(), all.end(), [&](const Process &process) {
            return process.ownSession && process.name.compare(executableName, Qt::CaseInsensitive) == 0;
        });
    }
};
