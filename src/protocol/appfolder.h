// The installation folder of an outside application, as the page names it in "appPath".
#pragma once

#include <QString>

/// The application folder is used as a plain prefix: the fixed names are appended to it directly, so
/// the page sends it with a trailing separator. The fixed names are written in Windows form
/// ("bin\\SomnoPanel.exe"); elsewhere every backslash in them stands for "/".
class AppFolder
{
public:
    AppFolder() = default;
    explicit AppFolder(const QString &path) : folder(path) {}

    /// The folder exactly as the page sent it.
    const QString &path() const { return folder; }

    /// Whether the connector may write into and start programs from this folder: a network location
    /// ("\\host\share", "//host/share", or the two mixed) is refused.
    bool isAcceptable() const;

    /// The folder followed directly by a fixed relative name given in Windows form.
    QString join(const QString &windowsName) const;

    /// A fixed relative name in Windows form, with this platform's separator.
    static QString nativeName(const QString &windowsName);

private:
    QString folder;
};
