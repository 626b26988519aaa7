// The application folders the configuration lists: the folders a page may name without asking the operator.
#include "protocol/applicationfolders.h"

#include "protocol/appfolder.h"

ApplicationFolders::ApplicationFolders(const QStringList &folders)
{
    for (const QString &folder : folders)
        listed.insert(normalised(folder));
}

QString ApplicationFolders::normalised(const QString &folder)
{
    if (folder.isEmpty())
        return QString();
    QString path = folder;
#ifdef Q_OS_WIN
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
    const QStringList segments = path.split(QLatin1Char('/'));
    QStringList kept;
    for (int i = 0; i < segments.size(); ++i) {
        const QString &segment = segments.at(i);
        // The first segment of "/x" is empty: the root, kept.
        if ((segment.isEmpty() && i > 0) || segment == QLatin1String("."))
            continue;
        kept.append(segment);
    }
    path = kept.join(QLatin1Char('/'));
    // A root keeps its separator: "/" and "C:/".
    if (path.isEmpty() || (path.size() == 2 && path.at(1) == QLatin1Char(':')))
        path += QLatin1Char('/');
#ifdef Q_OS_WIN
    path = path.toCaseFolded();
#endif
    return path;
}

bool ApplicationFolders::isUsable(const QString &folder)
{
    return AppFolder(folder).isAcceptable();
}
