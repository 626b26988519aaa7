// Whether a database's lock file stands for a database in use.
#pragma once

// Plain C++ on purpose, as the process list: the Windows implementation compiles without Qt.

#include <string>

/// What a lock file says about its database.
struct LockFileCheck
{
    enum State
    {
        Missing, ///< no lock file: nobody has the database open
        Stale,   ///< a lock file nobody holds open, left by a program that crashed: the database is free
        Held,    ///< a program holds the lock file open: the database is in use
        Unknown, ///< the system could not tell (a path too long, no right to look, no answer): not free either
    };
    State state = Unknown;
    std::string reason; ///< for Unknown, why, for the log (UTF-8); for Held, how it was judged when not by its holder
};

/// Looks at the lock file at path (UTF-8) without opening it for reading or writing, so a database engine opening
/// it at the same moment is never turned away. On Windows it asks the system which processes have the file open
/// (FileProcessIdsUsingFileInformation, on a handle that may read attributes only and shares everything); a lock
/// file only this process has open counts as stale. On a network volume, where other workstations' programs cannot be
/// seen, a lock file that exists is held. Elsewhere an open file cannot be told from one left behind:
/// a lock file that exists is held.
LockFileCheck checkLockFile(const std::string &path);
