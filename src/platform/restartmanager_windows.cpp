// The connector and Windows' Restart Manager, through which installers close and restart running programs.
#include "platform/restartmanager.h"

#include <QDir>

#include "platform/connectorlog.h"
#include "platform/win32util.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <restartmanager.h>

namespace {

/// One argument as the C runtime splits a command line: in quotes, a quote escaped, backslashes before a quote
/// doubled.
QString quotedArgument(const QString &argument)
{
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        quoted += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\')) + c;
        backslashes = 0;
    }
    return quoted + QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
}

QString errorText(DWORD error)
{
    return QString::fromStdString(windowsErrorText(error));
}

} // namespace

void registerRestartAfterUpdate(const QStringList &arguments)
{
    QStringList quoted;
    for (const QString &argument : arguments)
        quoted.append(quotedArgument(argument));
    const std::wstring commandLine = quoted.join(QLatin1Char(' ')).toStdWString();
    const HRESULT result =
        RegisterApplicationRestart(commandLine.c_str(), RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
    if (FAILED(result))
        qCWarning(connectorLog).noquote()
            << "Cannot register for a restart after an update:" << errorText(static_cast<DWORD>(HRESULT_CODE(result)));
}

bool closeProgramsUsing(const QString &file)
{
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    DWORD error = RmStartSession(&session, 0, key);
    if (error != ERROR_SUCCESS) {
        qCWarning(connectorLog).noquote() << "Cannot ask running connectors to close:" << errorText(error);
        return false;
    }
    const std::wstring path = QDir::toNativeSeparators(file).toStdWString();
    LPCWSTR files[] = {path.c_str()};
    error = RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr);

    // This process runs from the same file: it asks, and is not asked.
    RM_UNIQUE_PROCESS self = {GetCurrentProcessId(), {}};
    FILETIME exited, kernel, user;
    if (error == ERROR_SUCCESS &&
        !GetProcessTimes(GetCurrentProcess(), &self.ProcessStartTime, &exited, &kernel, &user))
        error = GetLastError();
    if (error == ERROR_SUCCESS)
        error = RmAddFilter(session, nullptr, &self, nullptr, RmNoShutdown);

    UINT needed = 0;
    UINT listed = 0;
    DWORD rebootReasons = 0;
    if (error == ERROR_SUCCESS) {
        error = RmGetList(session, &needed, &listed, nullptr, &rebootReasons);
        if (error == ERROR_MORE_DATA)
            error = ERROR_SUCCESS;
    }
    if (error == ERROR_SUCCESS && needed > 0) {
        qCInfo(connectorLog) << "Asking the programs that use" << file << "to close:" << needed
                             << "listed, this one among them";
        // No force: a connector that does not answer is left running, and the installer finds its files in use.
        error = RmShutdown(session, 0, nullptr);
    }
    RmEndSession(session);
    if (error != ERROR_SUCCESS) {
        qCWarning(connectorLog).noquote() << "Running connectors did not all close:" << errorText(error);
        return false;
    }
    return true;
}
