// Whether a database's lock file stands for a database in use.
#pragma once

// Plain C++ on purpose, as the process list: the Windows implementation compiles without Qt.

#include <string>

/// Whether the lock file at path (UTF-8, native separators) is held. On Windows a lock file is held while a
/// process keeps it open; one left behind by a program that crashed is held by nobody and does not count.
/// Elsewhere a lock file counts whenever it exists.
bool lockFileHeld(const std::string &path);
