// Which programs run now, as the audiometry bridge asks before it starts the application.
#pragma once

#include <QString>
#include <QStringList>

#include "platform/processlist.h"

/// The system's process list; tests put a list of their own in its place.
class RunningPrograms
{
public:
    virtual ~RunningPrograms() = default;
    /// The executable file names of the running processes.
    virtual QStringList names() const
    {
        QStringList result;
        for (const std::string &name : runningProcessNames())
            result.append(QString::fromStdString(name));
        return result;
    }
};
