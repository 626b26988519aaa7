// Windows: 7-Zip ships in the folder "7-Zip" beside the connector's executable.
#include "platform/unpacker.h"

#include <QCoreApplication>

QString unpackerProgram()
{
    return unpackerProgramIn(QCoreApplication::applicationDirPath());
}

QString unpackerProgramIn(const QString &applicationDir)
{
    // Only the copy that ships with the connector: a lookup on the PATH could be steered by whoever
    // controls the workstation's environment.
    return applicationDir + QStringLiteral("/7-Zip/7z.exe");
}
