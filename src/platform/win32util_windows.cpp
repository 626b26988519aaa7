// Small helpers the Windows implementations share: error texts and paths for the system's wide-character calls.
#include "platform/win32util.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

std::string toUtf8(const wchar_t *text, int length)
{
    std::string result;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
        result.resize(static_cast<std::string::size_type>(size));
        WideCharToMultiByte(CP_UTF8, 0, text, length, &result[0], size, nullptr, nullptr);
    }
    return result;
}

std::wstring toWide(const std::string &text)
{
    std::wstring result;
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size > 0) {
        result.resize(static_cast<std::wstring::size_type>(size));
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
    }
    return result;
}

} // namespace

std::string windowsErrorText(unsigned long code)
{
    wchar_t *message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                        nullptr, code, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    std::string text = length > 0 ? toUtf8(message, static_cast<int>(length)) : std::string();
    LocalFree(message);
    // The system's messages end in a blank (with MAX_WIDTH_MASK) or a line break.
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return "Windows error " + std::to_string(code) + (text.empty() ? std::string() : " (" + text + ")");
}

std::wstring windowsPath(const std::string &utf8Path)
{
    std::wstring path = toWide(utf8Path);
    for (wchar_t &c : path) {
        if (c == L'/')
            c = L'\\';
    }
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return std::wstring();
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size)
        return std::wstring();
    full.resize(length);
    // Below the classic limit (less room for a file name in a folder) the path works as it is everywhere.
    if (full.size() < MAX_PATH - 12 || full.compare(0, 4, L"\\\\?\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}
