// Windows: a result file is taken through one handle that no other program can share, so a file its writer still
// holds is never moved, copied or read half-written.
#include "platform/fileoperations.h"

#include <QString>

#include <cstring>
#include <vector>

#include "platform/win32util.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

// Made absolute by the system, as a relative path would be by Qt: against the current folder.
std::wstring nativePath(const QString &path)
{
    return windowsPath(path.toStdString());
}

QString lastError()
{
    return QString::fromStdString(windowsErrorText(GetLastError()));
}

/// Renames the open file to target, which must not exist yet; the handle stays open on it.
bool renameOpenFile(HANDLE file, const std::wstring &target)
{
    // FILE_RENAME_INFO ends in the name; the buffer's zeros after it terminate the name.
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, target.data(), nameBytes);
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

std::optional<QByteArray> readToEnd(HANDLE file)
{
    QByteArray bytes;
    char chunk[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &read, nullptr))
            return std::nullopt;
        if (read == 0)
            return bytes;
        bytes.append(chunk, static_cast<int>(read));
    }
}

} // namespace

bool FileOperations::rename(const QString &from, const QString &to)
{
    // Without MOVEFILE_COPY_ALLOWED: no copy in place of the move; without REPLACE_EXISTING: nothing replaced.
    return MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(), 0) != 0;
}

FileOperations::Taken FileOperations::take(const QString &from, const QString &to)
{
    // No sharing at all: the open fails with a sharing violation while the application (or a scanner) still has the
    // file open, and once it succeeds nobody else can open, write or delete the file until it is closed here.
    const HANDLE file = CreateFileW(nativePath(from).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {false, std::nullopt, lastError()};
    if (!renameOpenFile(file, nativePath(to))) {
        const QString error = lastError();
        CloseHandle(file);
        return {false, std::nullopt, error};
    }
    // The rename left the position at the start; a failed read leaves the file in "claimed", read again later.
    Taken taken{true, readToEnd(file), QString()};
    CloseHandle(file);
    return taken;
}
