// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace Tracking {

// The source of "now", in the time base the day is laid out in (local time, or UTC with
// --utc); tests replace it to set the time.
using Clock = std::function<QDateTime()>;

// The lead added to every day time: the schedule runs 600 ms ahead of the clock.
inline constexpr qint32 DayTimeLeadMs = 600;

// The millisecond of the clock reading as decimal text, 0 to 999 without leading zeros.
QString TimeToMillisecond(const QDateTime &reading);

// Milliseconds since midnight of the reading, in the reading's own time base, plus the
// 600 ms lead: 600 to 86,400,599.
// Hour, minute, second and millisecond all come from the one reading, so the millisecond
// always belongs to the second it is added to.
qint32 DayTime(const QDateTime &reading);

} // namespace Tracking
