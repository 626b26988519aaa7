// Elsewhere: a 7-Zip beside the connector's executable, else the system's own (Debian's "7zip" package).
#include "platform/unpacker.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

QString unpackerProgram()
{
    return unpackerProgramIn(QCoreApplication::applicationDirPath());
}

QString unpackerProgramIn(const QString &applicationDir)
{
    const QString beside = applicationDir + QStringLiteral("/7-Zip/7z");
    const QFileInfo besideInfo(beside);
    if (besideInfo.isFile() && besideInfo.isExecutable())
        return beside;
    // findExecutable returns an absolute path, so the program that runs is the one that was found.
    for (const QString &name : {QStringLiteral("7zz"), QStringLiteral("7z")}) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    return beside;
}
