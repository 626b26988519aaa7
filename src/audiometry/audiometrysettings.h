// What an audiometry bridge takes from the connector around it.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class Clock;
class ExamRegistry;
class FileOperations;
class InstallationSlot;
class ProgramLauncher;
class RunningPrograms;

struct AudiometrySettings
{
    QUrl downloadServer;   // the vendor download server, as the configuration decided it
    QString desktopFolder; // the operator's desktop: the installer archive and its unpack folder go here
    ProgramLauncher *launcher = nullptr;
    const RunningPrograms *programs = nullptr;
    const Clock *clock = nullptr;
    FileOperations *files = nullptr;
    /// Whether a page is connected to receive reports; a result waits in its folder while none is.
    std::function<bool()> pageConnected;
    /// The one installation that may run at a time.
    InstallationSlot *installations = nullptr;
    /// The one waiting exam of each exchange folder.
    ExamRegistry *exams = nullptr;
    /// Where the folders with a waiting exam are remembered across a restart; empty: not remembered.
    QString waitingExamsFile;
};
