// The application folders the configuration lists: the folders a page may name without asking the operator.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class ApplicationFolders
{
public:
    ApplicationFolders() = default;
    explicit ApplicationFolders(const QStringList &folders);

    /// Whether folder is one of the listed folders, compared in normalised form.
    bool lists(const QString &folder) const { return listed.contains(normalised(folder)); }
    bool isEmpty() const { return listed.isEmpty(); }

    /// The form in which folders are compared and remembered: "/" for every separator on Windows (elsewhere a
    /// backslash is a character of a name), no doubled separator, no "." segment, no trailing separator but
    /// for a root, and on Windows in one letter case, as the file system compares names. A ".." segment is left
    /// alone: such a folder is refused before it is compared.
    static QString normalised(const QString &folder);

    /// Whether a configured folder is usable: an absolute path on a local drive without "..".
    static bool isUsable(const QString &folder);

private:
    QSet<QString> listed;
};
