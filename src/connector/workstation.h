// The outside world the bridges meet on the operator's workstation.
#pragma once

#include <QString>

#include <functional>
#include <string>

#include "platform/lockfile.h"
#include "platform/remotedrive.h"

class Clock;
class FileOperations;
class ProgramLauncher;
class RunningPrograms;

/// The real workstation in the program, stand-ins in the tests. The objects belong to whoever fills this in
/// and must outlive the connector built with it.
struct Workstation
{
    QString desktopFolder;
    ProgramLauncher *launcher = nullptr;
    const Clock *clock = nullptr;
    FileOperations *files = nullptr;
    const RunningPrograms *programs = nullptr;
    QString waitingExamsFile = QString(); // where waiting exams are remembered across a restart; empty: nowhere
    /// What a lock file beside the polysomnography database says.
    std::function<LockFileCheck(const std::string &path)> checkLockFile = ::checkLockFile;
    /// Whether a folder lies on a drive letter mapped to a network share.
    std::function<bool(const QString &folder)> isRemoteDrive = ::isRemoteDrive;
};
