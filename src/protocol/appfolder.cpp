// The installation folder of an outside application, as the page names it in "appPath".
#include "protocol/appfolder.h"

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

} // namespace

bool AppFolder::isAcceptable() const
{
    // The page must not make the connector run a program from a remote share.
    return !(folder.size() >= 2 && isSeparator(folder.at(0)) && isSeparator(folder.at(1)));
}

QString AppFolder::join(const QString &windowsName) const
{
    return folder + nativeName(windowsName);
}

QString AppFolder::nativeName(const QString &windowsName)
{
#ifdef Q_OS_WIN
    return windowsName;
#else
    QString name = windowsName;
    return name.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
}
