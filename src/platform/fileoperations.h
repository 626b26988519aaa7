// The few file operations whose failure the connector must survive: taking and removing result files.
#pragma once

#include <QFile>
#include <QString>

/// On Windows a rename or delete fails while another program (the application writing the file, a virus
/// scanner, a backup agent) holds the file open. Tests put failing operations in its place.
class FileOperations
{
public:
    virtual ~FileOperations() = default;
    /// Moves from to to, which must not exist yet; whether it moved.
    virtual bool rename(const QString &from, const QString &to) { return QFile::rename(from, to); }
    /// Whether the file is gone.
    virtual bool remove(const QString &path) { return QFile::remove(path); }
};
