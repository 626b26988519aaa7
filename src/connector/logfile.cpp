// The connector's log file for the clinic's IT staff: the "sanvero.log" messages, time-stamped and rotated.
#include "connector/logfile.h"

#include <QDateTime>
#include <QDir>
#include <QMutexLocker>
#include <QStandardPaths>

#include "platform/connectorlog.h"

namespace {

LogFile *installedFile = nullptr;
QtMessageHandler previousHandler = nullptr;
// A message raised while a line is written (a warning of the file system) must not write again.
thread_local bool writing = false;

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "";
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (installedFile && !writing && context.category &&
        qstrcmp(context.category, connectorLog().categoryName()) == 0) {
        writing = true;
        installedFile->writeMessage(levelName(type), message);
        writing = false;
        // The file has the connector's routine events; written to the debug output too, they would cost every
        // message a second write. Warnings and worse still show there.
        if (type == QtInfoMsg || type == QtDebugMsg)
            return;
    }
    previousHandler(type, context, message);
}

} // namespace

LogFile::LogFile(const QString &folder, qint64 maxBytes, int keptFiles)
    : folder(folder), maxBytes(maxBytes), keptFiles(qMax(1, keptFiles))
{}

LogFile::~LogFile()
{
    if (installedFile == this) {
        qInstallMessageHandler(previousHandler);
        installedFile = nullptr;
    }
}

QString LogFile::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QString LogFile::filePath(int index) const
{
    return folder + (index == 0 ? QStringLiteral("/connector.log") : QStringLiteral("/connector.%1.log").arg(index));
}

void LogFile::write(const QString &line)
{
    QMutexLocker lock(&mutex);
    append(line);
}

void LogFile::writeMessage(const char *level, const QString &message)
{
    QMutexLocker lock(&mutex);
    // Local time with its offset, as the clinic reads its clocks, but unambiguous across a time change.
    append(timestamps.stamp(QDateTime::currentMSecsSinceEpoch()) + QLatin1Char(' ') + QLatin1String(level) +
           QLatin1Char(' ') + message);
}

void LogFile::append(const QString &line)
{
#ifdef Q_OS_WIN
    // Windows' own line ends, which every editor there shows, counted as written.
    const QByteArray bytes = line.toUtf8() + "\r\n";
#else
    const QByteArray bytes = line.toUtf8() + '\n';
#endif
    if (!file.isOpen() && !open())
        return;
    if (size > 0 && size + bytes.size() > maxBytes) {
        rotate();
        if (!open())
            return;
    }
    // One write per line, straight to the system: the file asks nothing of it per line.
    const qint64 written = file.write(bytes);
    if (written > 0)
        size += written;
}

bool LogFile::open()
{
    QDir().mkpath(folder);
    file.setFileName(filePath());
    // Unbuffered, so a line is in the file even when the connector ends abruptly.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    // Asked once; from here on the lines written are counted.
    size = file.size();
    return true;
}

void LogFile::rotate()
{
    // Closed first: Windows renames no file that is open.
    file.close();
    QFile::remove(filePath(keptFiles - 1));
    for (int index = keptFiles - 2; index >= 0; --index)
        QFile::rename(filePath(index), filePath(index + 1));
    // Where a rename failed (another connector of the same user holds the file), the file just grows.
}

void LogFile::install()
{
    if (installedFile)
        return;
    installedFile = this;
    previousHandler = qInstallMessageHandler(handleMessage);
}
