// Whether a folder lies on a network drive behind a drive letter.
#pragma once

#include <QString>

/// Whether path ("X:\..." or "X:/...") lies on a drive letter mapped to a network share ("net use", a mapped drive
/// of the logon script): such a folder is as remote as "\\server\share". False for local drives and paths without
/// a drive letter, and on systems without drive letters.
bool isRemoteDrive(const QString &path);
