// Lists the running programs, so a bridge can tell whether an outside application already runs.
#pragma once

// Plain C++ on purpose: the Windows implementation is compiled on its own with the MinGW-w64 cross
// compiler, without a Windows build of Qt.

#include <string>
#include <vector>

/// One entry per running process: the file name of its executable, UTF-8 encoded. On Linux a process
/// also gives the file name of its first command-line word when that differs (a script run by an
/// interpreter). Processes that have ended but not yet been reaped are left out. An empty list
/// when the system could not be asked.
std::vector<std::string> runningProcessNames();
