// Time stamps of the log file's lines: local time with its offset from UTC.
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <limits>

/// The offset from UTC is looked up at most once per minute of UTC, not for every line: the lookup asks the
/// system's time zone files each time. The clinic's offset changes only on a whole minute (daylight saving
/// time), so a line is never stamped with an offset that no longer holds.
class LogTimestamps
{
public:
    /// The local offset from UTC in seconds at an instant given in milliseconds since the epoch.
    using OffsetLookup = std::function<int(qint64 utcMsecs)>;

    explicit LogTimestamps(OffsetLookup lookup = localOffset);

    /// The instant as ISO 8601 local time with milliseconds and the offset: 2024-03-31T03:00:00.000+02:00
    /// (Z for UTC itself).
    QString stamp(qint64 utcMsecs);
    /// The system's own offset.
    static int localOffset(qint64 utcMsecs);

private:
    OffsetLookup lookup;
    qint64 offsetMinute = std::numeric_limits<qint64>::min(); // the UTC minute the offset was looked up for
    int offset = 0;
    qint64 formattedSecond = std::numeric_limits<qint64>::min();
    QString secondText; // of formattedSecond, up to its seconds
    QString offsetText;
};
