// Asks Windows which processes hold a lock file open, through a handle that keeps nobody out.
#include "platform/lockfile.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "platform/win32util.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// From the Windows Driver Kit (ntifs.h); the class exists since Windows 7.
constexpr int fileProcessIdsUsingFileInformation = 47;
constexpr LONG statusInfoLengthMismatch = static_cast<LONG>(0xC0000004L);

struct IoStatusBlock
{
    union {
        LONG Status;
        void *Pointer;
    };
    ULONG_PTR Information;
};
using NtQueryInformationFileCall = LONG(WINAPI *)(HANDLE, IoStatusBlock *, void *, ULONG, int);

std::string statusText(LONG status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

/// Whether the file lies on a network volume (a mapped drive, a share); none when the system cannot tell.
std::optional<bool> onNetworkVolume(const std::wstring &name)
{
    std::vector<wchar_t> volume(name.size() + 1);
    if (!GetVolumePathNameW(name.c_str(), volume.data(), static_cast<DWORD>(volume.size())))
        return std::nullopt;
    return GetDriveTypeW(volume.data()) == DRIVE_REMOTE;
}

} // namespace

LockFileCheck checkLockFile(const std::string &path)
{
    const std::wstring name = windowsPath(path);
    if (name.empty())
        return {LockFileCheck::Unknown, "the path cannot be made absolute: " + windowsErrorText(GetLastError())};
    // Attributes only, everything shared: access that touches no data takes part in no sharing check, so the
    // database engine's own opens succeed as if this handle were not there (an open without sharing, as this check
    // once made, turned the engine away for its moment and the application reported the database as in use).
    const HANDLE file =
        CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // The folder holds the database, which was found: only the file itself can be missing. Any other failure
        // (a name too long, no right to look) cannot tell.
        if (error == ERROR_FILE_NOT_FOUND)
            return {LockFileCheck::Missing, std::string()};
        return {LockFileCheck::Unknown, windowsErrorText(error)};
    }

    // On a network volume the system lists only the programs of this workstation: a lock file held from another
    // machine would read as left behind. There a lock file that exists is held.
    const std::optional<bool> remote = onNetworkVolume(name);
    if (!remote || *remote) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        if (!remote)
            return {LockFileCheck::Unknown, "the volume cannot be told: " + windowsErrorText(error)};
        return {LockFileCheck::Held, "on a network volume, where other workstations' programs cannot be seen"};
    }

    const auto query = reinterpret_cast<NtQueryInformationFileCall>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    // NumberOfProcessIdsInList, then the ids; grown when more processes hold the file than fit.
    std::vector<ULONG_PTR> buffer(64);
    LONG status = -1;
    for (int attempt = 0; query && attempt < 8; ++attempt) {
        IoStatusBlock io = {};
        status = query(file, &io, buffer.data(), static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)),
                       fileProcessIdsUsingFileInformation);
        if (status != statusInfoLengthMismatch)
            break;
        buffer.resize(buffer.size() * 4);
    }
    CloseHandle(file);
    if (!query)
        return {LockFileCheck::Unknown, "the system cannot list the processes that use a file"};
    if (status < 0)
        return {LockFileCheck::Unknown,
                "the system did not list the processes that use the file (status " + statusText(status) + ")"};

    // The list holds this process too, for the handle just closed.
    const auto count = static_cast<std::size_t>(*reinterpret_cast<const ULONG *>(buffer.data()));
    const ULONG_PTR own = GetCurrentProcessId();
    for (std::size_t index = 1; index <= count && index < buffer.size(); ++index) {
        if (buffer[index] != own)
            return {LockFileCheck::Held, std::string()};
    }
    return {LockFileCheck::Stale, std::string()};
}
