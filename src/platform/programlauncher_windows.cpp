// Windows: an installer starts through the shell, which asks for administrator rights where its manifest wants them.
#include "platform/programlauncher.h"

#include <QDir>

#include "platform/connectorlog.h"
#include "platform/win32util.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

namespace {

// ERROR_ELEVATION_REQUIRED, which the MinGW-w64 headers lack.
constexpr DWORD elevationRequired = 740;

/// One start through the shell: ERROR_SUCCESS once the program runs, else the Windows error.
DWORD shellStart(const std::wstring &program, const std::wstring &folder, const wchar_t *verb)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // NOASYNC: the start is complete when the call returns, as this thread ends right after. FLAG_NO_UI: a failure
    // comes back here and goes to the log, instead of a box of the shell's that nobody may see.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = program.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) ? ERROR_SUCCESS : GetLastError();
}

/// What the clinic's IT can do about a refused start.
const char *startHint(DWORD error)
{
    switch (error) {
    case ERROR_CANCELLED:
        return "the prompt for administrator rights was refused or cancelled";
    case ERROR_ACCESS_DISABLED_BY_POLICY:
        return "a policy (AppLocker, Software Restriction Policies) blocks the installer";
    case elevationRequired:
        return "the installer needs administrator rights, and Windows did not ask for them";
    default:
        return "";
    }
}

} // namespace

bool startInstallerAndWait(const QString &program, const QString &workingDirectory)
{
    // The shell may use COM on this thread; a thread of its own needs it set up.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring file = QDir::toNativeSeparators(program).toStdWString();
    const std::wstring folder = QDir::toNativeSeparators(workingDirectory).toStdWString();
    // The default verb elevates an installer whose manifest asks for it, and the prompt waits for the operator.
    DWORD error = shellStart(file, folder, nullptr);
    // Where the shell still reports that elevation is needed (an installer without a manifest that a compatibility
    // rule marks as such), it is asked for explicitly.
    if (error == elevationRequired)
        error = shellStart(file, folder, L"runas");
    if (SUCCEEDED(com))
        CoUninitialize();

    if (error == ERROR_SUCCESS) {
        qCInfo(connectorLog) << "Started" << program;
        return true;
    }
    qCWarning(connectorLog).noquote() << "Cannot start" << program << "in" << workingDirectory << ":"
                                      << QString::fromStdString(windowsErrorText(error)) << startHint(error);
    return false;
}
