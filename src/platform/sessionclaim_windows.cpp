// Windows: a named mutex in the session's own namespace; every session of the workstation has its own.
#include "platform/sessionclaim.h"

#include <QString>

#include "platform/connectorlog.h"
#include "platform/win32util.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

SessionClaim::SessionClaim(const QString &)
{
    // Not inheritable (no security attributes): a program the connector starts does not keep the claim.
    handle = CreateMutexW(nullptr, FALSE, L"Local\\SANvero Connector");
    const DWORD error = GetLastError();
    // Access denied: a connector running with other rights (elevated) made it, so one runs.
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
        // Not kept open: the mutex must go with the connector that holds the claim.
        if (handle)
            CloseHandle(static_cast<HANDLE>(handle));
        handle = nullptr;
        claimed = false;
        return;
    }
    if (!handle)
        qCWarning(connectorLog).noquote()
            << "Cannot claim the session:" << QString::fromStdString(windowsErrorText(error));
    claimed = true;
}

SessionClaim::~SessionClaim()
{
    if (handle)
        CloseHandle(static_cast<HANDLE>(handle));
}
