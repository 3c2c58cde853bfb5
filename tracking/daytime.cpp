// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "daytime.h"

namespace Tracking {

QString TimeToMillisecond(const QDateTime &reading)
{
    const QTime time = reading.time();
    return QString::number(time.isValid() ? time.msec() : 0);
}

qint32 DayTime(const QDateTime &reading)
{
    const QTime time = reading.isValid() ? reading.time() : QTime();
    const qint64 hour = time.isValid() ? time.hour() : 0;
    const qint64 minute = time.isValid() ? time.minute() : 0;
    const qint64 second = time.isValid() ? time.second() : 0;
    const qint64 millisecond = TimeToMillisecond(reading).toLongLong();
    const qint64 dayTime
        = (hour * 3600 + minute * 60 + second) * 1000 + millisecond + DayTimeLeadMs;
    return static_cast<qint32>(dayTime); // at most 86,400,599
}

} // namespace Tracking
