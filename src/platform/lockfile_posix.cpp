// Outside Windows an open file cannot be told from one left behind: existence decides.
#include "platform/lockfile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

LockFileCheck checkLockFile(const std::string &path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) == 0)
        return {LockFileCheck::Held, std::string()};
    if (errno == ENOENT)
        return {LockFileCheck::Missing, std::string()};
    // A name too long, a folder that cannot be searched: whether it exists is not known.
    return {LockFileCheck::Unknown, std::strerror(errno)};
}
