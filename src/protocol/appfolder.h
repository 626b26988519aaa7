// The installation folder of an outside application, as the page names it in "appPath".
#pragma once

#include <QString>

/// The application folder is used as a prefix: the fixed names are appended to it directly; a folder sent
/// without its trailing separator gets one. The fixed names are written in Windows form
/// ("bin\\SomnoPanel.exe"); elsewhere every backslash in them stands for "/".
class AppFolder
{
public:
    AppFolder() = default;
    explicit AppFolder(const QString &path);

    /// The folder as the page sent it, with its trailing separator.
    const QString &path() const { return folder; }

    /// Whether the connector may write into and start programs from this folder: only an absolute path on
    /// a local drive ("C:\\..." or "C:/..." on Windows, "/..." elsewhere) without a ".." segment.
    bool isAcceptable() const { return acceptable; }

    /// The folder followed directly by a fixed relative name given in Windows form.
    QString join(const QString &windowsName) const;

    /// A fixed relative name in Windows form, with this platform's separator.
    static QString nativeName(const QString &windowsName);

private:
    /// The rule, applied to the path as the page sent it.
    static bool isLocalFolder(const QString &path);

    QString folder;
    bool acceptable = false;
};
