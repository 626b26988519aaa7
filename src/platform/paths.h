// Joins the fixed relative names of the outside applications to an application path.
#pragma once

#include <QString>
#include <QtGlobal>

/// The fixed names are written with Windows separators ("bin\\SomnoPanel.exe"). On Windows they are
/// used exactly so; elsewhere every backslash is the platform separator "/".
inline QString fixedRelativePath(const QString &windowsForm)
{
#ifdef Q_OS_WIN
    return windowsForm;
#else
    QString path = windowsForm;
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
}
