// The time of day, as the connector compares it with the time stamps of files.
#pragma once

#include <QDateTime>

class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const { return QDateTime::currentDateTimeUtc(); }
};
