// The connector's log file for the clinic's IT staff: the "sanvero.log" messages, time-stamped and rotated.
#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <QtGlobal>

#include "connector/logtimestamps.h"

/// Appends lines to <folder>/connector.log. A line that would take the file beyond maxBytes first moves the
/// older files up (connector.log to connector.1.log, connector.1.log to connector.2.log, ...), so at most
/// keptFiles files exist, connector.log the newest. A file that cannot be written costs only its lines.
class LogFile
{
public:
    static constexpr qint64 defaultMaxBytes = 1024 * 1024;
    static constexpr int defaultKeptFiles = 5;

    explicit LogFile(const QString &folder, qint64 maxBytes = defaultMaxBytes, int keptFiles = defaultKeptFiles);
    ~LogFile();
    LogFile(const LogFile &) = delete;
    LogFile &operator=(const LogFile &) = delete;

    /// The operator's local application data folder: %LOCALAPPDATA%\SANvero\SANvero Connector on Windows,
    /// ~/.local/share/SANvero/SANvero Connector elsewhere (once the application's names are set).
    static QString defaultFolder();
    /// connector.log (index 0) or the index-th older file, connector.<index>.log.
    QString filePath(int index = 0) const;

    /// Appends one line (a line feed is added).
    void write(const QString &line);
    /// Appends one message as a line of its own: the time, the level and the message.
    void writeMessage(const char *level, const QString &message);

    /// From now on the messages of the "sanvero.log" category are written here with their time; its warnings
    /// and worse, and every other message, also go on to the handler that was installed before, unchanged.
    /// Undone by the destructor.
    void install();

private:
    void append(const QString &line);
    bool open();
    void rotate();

    QString folder;
    qint64 maxBytes;
    int keptFiles;
    QFile file;
    qint64 size = 0; // of the open file, counted as lines are written
    LogTimestamps timestamps;
    QMutex mutex;
};
