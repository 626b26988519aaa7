// The few file operations whose failure the connector must survive: writing the request, taking result files.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <optional>

/// On Windows a rename or delete fails while another program (the application writing the file, a virus
/// scanner, a backup agent) holds the file open. Tests put failing operations in its place.
class FileOperations
{
public:
    /// A result file taken out of the application's way: whether it moved, and its bytes when they could be
    /// read as well; why it did not move, for the log.
    struct Taken
    {
        bool moved = false;
        std::optional<QByteArray> bytes;
        QString error;
    };

    virtual ~FileOperations() = default;
    /// Moves from to to, which must not exist yet; whether it moved. Never a copy in place of the move (as
    /// QFile::rename falls back to): a file another program holds open stays where it is, whole.
    virtual bool rename(const QString &from, const QString &to);
    /// Whether the file is gone.
    virtual bool remove(const QString &path) { return QFile::remove(path); }
    /// The whole content of a file; none when it cannot be read.
    virtual std::optional<QByteArray> read(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    /// Takes a result file: moves it from where the application left it to to, and reads it. On Windows both go
    /// through one handle, opened for reading and deleting without sharing: the open succeeds only once every
    /// writer has closed the file, and nobody can open it between the move and the read. Elsewhere a rename,
    /// then a read.
    virtual Taken take(const QString &from, const QString &to);

    /// Writes content under a temporary name beside path and renames it over path in one step (a rename on
    /// POSIX, MoveFileEx with MOVEFILE_REPLACE_EXISTING on Windows); whether it succeeded. Until then, and
    /// when it fails, path keeps its old content: nothing is deleted first.
    virtual bool replace(const QString &path, const QByteArray &content)
    {
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
    }
};
