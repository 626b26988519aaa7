// Tells a lock file in use from one left behind by trying to open it for ourselves alone.
#include "platform/lockfile.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

std::wstring toWide(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::wstring::size_type>(size), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    return result;
}

} // namespace

// The database engine keeps its lock file open, shared, while any program has the database open, and
// deletes it when the last one closes it; a program that crashed leaves it behind, open by nobody. An open
// without any sharing fails with a sharing violation exactly while someone holds it. The handle is closed
// at once, so the moment in which it would keep the engine out is as short as can be.
bool lockFileHeld(const std::string &path)
{
    const HANDLE file =
        CreateFileW(toWide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    // Missing: nobody uses the database. Any other failure (no right to read it) cannot tell held from left
    // behind, and the file exists: it counts, as it always did.
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}
