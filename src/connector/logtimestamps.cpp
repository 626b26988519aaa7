// Time stamps of the log file's lines: local time with its offset from UTC.
#include "connector/logtimestamps.h"

#include <QDateTime>

#include <utility>

LogTimestamps::LogTimestamps(OffsetLookup lookup) : lookup(std::move(lookup)) {}

QString LogTimestamps::stamp(qint64 utcMsecs)
{
    const qint64 minute = utcMsecs / 60000;
    const qint64 second = utcMsecs / 1000;
    if (minute != offsetMinute) {
        offset = lookup(utcMsecs);
        offsetMinute = minute;
    }
    // Formatted once a second; a line adds its milliseconds. A time with a fixed offset is formatted without
    // asking the time zone.
    if (second != formattedSecond) {
        const QString formatted =
            QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::OffsetFromUTC, offset).toString(Qt::ISODateWithMs);
        secondText = formatted.left(19); // yyyy-MM-ddTHH:mm:ss
        offsetText = formatted.mid(23);  // after ".zzz": +hh:mm or Z
        formattedSecond = second;
    }
    const int milliseconds = int(utcMsecs - second * 1000);
    const QChar digits[] = {QLatin1Char('.'), QLatin1Char(char('0' + milliseconds / 100)),
                            QLatin1Char(char('0' + milliseconds / 10 % 10)),
                            QLatin1Char(char('0' + milliseconds % 10))};
    return secondText + QString(digits, 4) + offsetText;
}

int LogTimestamps::localOffset(qint64 utcMsecs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMsecs, Qt::LocalTime).offsetFromUtc();
}
