// The installation folder of an outside application, as the page names it in "appPath".
#include "protocol/appfolder.h"

#include <QRegularExpression>

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

#ifdef Q_OS_WIN
const QLatin1Char nativeSeparator('\\');
#else
const QLatin1Char nativeSeparator('/');
#endif

} // namespace

AppFolder::AppFolder(const QString &path) : folder(path), acceptable(isLocalFolder(path))
{
    // The fixed names are appended directly: without a trailing separator they would run into the
    // folder's own name.
    if (!folder.isEmpty() && !isSeparator(folder.back()))
        folder += nativeSeparator;
}

bool AppFolder::isLocalFolder(const QString &folder)
{
    // Only an absolute path on a local drive: the page must not make the connector write into or start
    // programs from a network share ("\\host\share", "//host/share", "\\?\UNC\...", "\\.\..."), a
    // relative path (that would depend on the connector's working directory) or an address.
    if (folder.size() >= 2 && isSeparator(folder.at(0)) && isSeparator(folder.at(1)))
        return false;
    if (folder.startsWith(QLatin1String("\\??\\")))
        return false;
#ifdef Q_OS_WIN
    static const QRegularExpression localDrive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    if (!localDrive.match(folder).hasMatch())
        return false;
#else
    if (!folder.startsWith(QLatin1Char('/')))
        return false;
#endif
    // A ".." segment could climb out of any folder the page names.
    static const QRegularExpression separators(QStringLiteral("[\\\\/]"));
    return !folder.split(separators).contains(QStringLiteral(".."));
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
