// Lists the running programs from /proc.
#include "platform/processlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

// Plain reads: a process may end while its files are read, and a read of a vanished process's
// file fails with ESRCH; that must end the read, not the program (a C++ stream would throw here).
std::string readFile(const std::string &path)
{
    std::string content;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        content.append(buffer, static_cast<std::string::size_type>(count));
    }
    ::close(fd);
    return content;
}

bool isNumber(const char *text)
{
    if (*text == '\0')
        return false;
    for (; *text != '\0'; ++text) {
        if (!std::isdigit(static_cast<unsigned char>(*text)))
            return false;
    }
    return true;
}

// A zombie keeps its name until its parent reaps it; it no longer runs. Where no process reaps
// orphans (some containers) such entries would otherwise make an ended application look alive.
bool hasEnded(const std::string &procDir)
{
    const std::string stat = readFile(procDir + "/stat");
    const std::string::size_type nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= stat.size())
        return true;
    const char state = stat[nameEnd + 2];
    return state == 'Z' || state == 'X';
}

// The real user id, the first of the four on the "Uid:" line; -1 when it cannot be read.
long realUserId(const std::string &procDir)
{
    const std::string status = readFile(procDir + "/status");
    const std::string::size_type line = status.find("\nUid:");
    return line == std::string::npos ? -1 : std::strtol(status.c_str() + line + 5, nullptr, 10);
}

std::string fileNameOf(const std::string &path)
{
    const std::string::size_type slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<ProcessEntry> runningProcesses()
{
    std::vector<ProcessEntry> entries;
    std::unique_ptr<DIR, int (*)(DIR *)> proc(opendir("/proc"), closedir);
    if (!proc)
        return entries;
    const long ownUser = static_cast<long>(::getuid());

    while (const dirent *entry = readdir(proc.get())) {
        if (!isNumber(entry->d_name))
            continue;
        const std::string procDir = std::string("/proc/") + entry->d_name;
        if (hasEnded(procDir))
            continue;
        const bool own = realUserId(procDir) == ownUser;

        // comm is the executable's (or the started script's) name, cut to 15 bytes by the kernel.
        std::string comm = readFile(procDir + "/comm");
        if (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        if (!comm.empty())
            entries.push_back({comm, own});

        // The first command-line word is cut at its first zero byte; kernel threads have none.
        const std::string commandLine = readFile(procDir + "/cmdline");
        const std::string first = fileNameOf(commandLine.substr(0, commandLine.find('\0')));
        if (!first.empty() && first != comm)
            entries.push_back({first, own});
    }
    return entries;
}
