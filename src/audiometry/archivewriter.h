// Writes a downloaded archive on a thread of its own, so a slow disk or the flush before the final rename never
// holds the connector's event loop.
#pragma once

#include <QAtomicInteger>
#include <QObject>
#include <QSaveFile>
#include <QThread>

#include <memory>

class ArchiveWriter : public QObject
{
    Q_OBJECT

public:
    explicit ArchiveWriter(QObject *parent = nullptr);
    /// Waits for the piece being written, if any; an archive not committed is discarded.
    ~ArchiveWriter() override;

    /// Creates the temporary file beside path (on the calling thread: that is quick); false when it can't.
    bool open(const QString &path);
    /// Hands a piece over to be appended to the temporary file.
    void write(const QByteArray &piece);
    /// Bytes handed over and not written yet.
    qint64 backlog() const { return pending.loadAcquire(); }
    /// After every piece handed over so far: flushes the file to disk and renames it to its path.
    void commit();

signals:
    /// A piece has been written; the backlog is smaller.
    void written();
    /// A piece could not be written (a full disk, for instance); nothing will be committed.
    void writeFailed();
    /// The file is in place under its path (true), or nothing is (false).
    void committed(bool ok);

private:
    QThread thread;
    std::unique_ptr<QSaveFile> file; // used on the writer thread once open
    QAtomicInteger<qint64> pending;
    QAtomicInt failed;
};
