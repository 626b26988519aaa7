// Small helpers the Windows implementations share: error texts and paths for the system's wide-character calls.
#pragma once

// Plain C++, as the Windows files that compile without Qt use them too. Windows only.

#include <string>

/// "Windows error <code> (<the system's message>)", UTF-8, on one line.
std::string windowsErrorText(unsigned long code);

/// A path for the system's wide-character calls: UTF-8 in, made absolute with the system's separators, "." and ".."
/// resolved, and prefixed with "\\?\" when it is too long for the classic limit, so a long path is found as Qt
/// finds it. Empty when the system cannot make it absolute.
std::wstring windowsPath(const std::string &utf8Path);
