// Lists the running programs with a snapshot of the system's process table.
#include "platform/processlist.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <tlhelp32.h>

namespace {

std::string toUtf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string result(static_cast<std::string::size_type>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<std::string::size_type>(size - 1)); // without the terminating zero
    return result;
}

} // namespace

// The snapshot API answers in milliseconds and exists on every Windows release; the management
// command-line tool once used for this is gone from current Windows 11. The snapshot holds every
// user's processes (fast user switching, Remote Desktop): the session id tells the operator's own.
std::vector<ProcessEntry> runningProcesses()
{
    std::vector<ProcessEntry> entries;
    DWORD ownSession = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession))
        return entries;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return entries;

    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        // A process whose session cannot be read (it ended meanwhile, or belongs to another user and
        // is closed to us) is not the operator's.
        DWORD session = 0;
        const bool own = ProcessIdToSessionId(entry.th32ProcessID, &session) && session == ownSession;
        entries.push_back({toUtf8(entry.szExeFile), own});
    }

    CloseHandle(snapshot);
    return entries;
}
