// Writes a downloaded archive on a thread of its own, so a slow disk or the flush before the final rename never
// holds the connector's event loop.
#include "audiometry/archivewriter.h"

ArchiveWriter::ArchiveWriter(QObject *parent) : QObject(parent)
{
    thread.setObjectName(QStringLiteral("ArchiveWriter"));
    thread.start();
}

ArchiveWriter::~ArchiveWriter()
{
    // Pieces still queued are dropped; at most the one being written is waited for.
    thread.requestInterruption();
    thread.quit();
    thread.wait();
    // The thread has ended, so the file may be destroyed here; without commit its temporary file goes with it.
    file.reset();
}

bool ArchiveWriter::open(const QString &path)
{
    file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        file.reset();
        return false;
    }
    file->moveToThread(&thread);
    return true;
}

void ArchiveWriter::write(const QByteArray &piece)
{
    if (!file)
        return;
    pending.fetchAndAddOrdered(piece.size());
    QMetaObject::invokeMethod(
        file.get(),
        [this, piece] {
            if (!failed.loadAcquire() && !thread.isInterruptionRequested() && file->write(piece) != piece.size()) {
                failed.storeRelease(1);
                emit writeFailed();
            }
            pending.fetchAndSubOrdered(piece.size());
            emit written();
        },
        Qt::QueuedConnection);
}

void ArchiveWriter::commit()
{
    if (!file) {
        emit committed(false);
        return;
    }
    QMetaObject::invokeMethod(
        file.get(),
        [this] {
            // QSaveFile flushes to disk before it renames: that is the part that may take long.
            const bool ok = !failed.loadAcquire() && !thread.isInterruptionRequested() && file->commit();
            emit committed(ok);
        },
        Qt::QueuedConnection);
}
