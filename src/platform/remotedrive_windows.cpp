// Windows: the drive letter's type as the system knows it.
#include "platform/remotedrive.h"

#include <QString>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

bool isRemoteDrive(const QString &path)
{
    if (path.size() < 2 || !path.at(0).isLetter() || path.at(1) != QLatin1Char(':'))
        return false;
    // The root of the drive: GetDriveTypeW wants the trailing backslash.
    const std::wstring root = path.left(2).toStdWString() + L"\\";
    return GetDriveTypeW(root.c_str()) == DRIVE_REMOTE;
}
