// Lists the running programs, so a bridge can tell whether an outside application already runs.
#pragma once

// Plain C++ on purpose: the Windows implementation is compiled on its own with the MinGW-w64 cross
// compiler, without a Windows build of Qt.

#include <string>
#include <vector>

struct ProcessEntry
{
    std::string name; ///< the file name of the executable, UTF-8 encoded
    /// Whether the process is the operator's own: on Windows it runs in the connector's Terminal Services
    /// session, elsewhere under the connector's real user id. Other users' programs are listed too.
    bool ownSession = false;
};

/// One entry per running process. On Linux a process also gives a second entry with the file name of its
/// first command-line word when that differs (a script run by an interpreter). Processes that have ended
/// but not yet been reaped are left out. An empty list when the system could not be asked.
std::vector<ProcessEntry> runningProcesses();
