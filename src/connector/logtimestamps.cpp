// Time stamps of the log file's lines: local time with its offset from UTC.
#include "connector/logtimestamps.h"

#include <QDateTime>

#include <utility>

LogTimestamps::LogTimestamps(OffsetLookup lookup) : lookup(std::move(lookup)) {}

QString LogTimestamps::stamp(qint64 utcMsecs)
{
    const qint64 current = utcMsecs / 60000;
    if (current != minute) {
        offset = lookup(utcMsecs);
        minute = current;
    }
    // A time with a fixed offset is formatted without asking the time zone.
    return QDateTime::fromMSecsSinceEpoch(utcMsecs, Qt::OffsetFromUTC, offset).toString(Qt::ISODateWithMs);
}

int LogTimestamps::localOffset(qint64 utcMsecs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMsecs, Qt::LocalTime).offsetFromUtc();
}
