// Where the connector finds the 7-Zip command-line program it unpacks archives with.
#pragma once

#include <QString>

/// The 7-Zip program for this connector. Never empty: when no program is found, the preferred
/// location is returned, so starting it fails and the log names where it was looked for.
QString unpackerProgram();

/// The same choice for a connector whose executable lies in applicationDir (no trailing slash).
/// Windows: applicationDir + "/7-Zip/7z.exe". Elsewhere: applicationDir + "/7-Zip/7z" when that is an
/// executable file, else "7zz" or "7z" found on the PATH.
QString unpackerProgramIn(const QString &applicationDir);
