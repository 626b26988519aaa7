// The outside world the bridges meet on the operator's workstation.
#pragma once

#include <QString>

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
};
