// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDateTime>

namespace Tracking {

// What the day is laid out from: local midnight (the default), or UTC midnight, as the
// sounders' own schedules count.
enum class TimeBase { Local, Utc };

// The reading in that time base: its hour, minute and second are then the ones to use.
inline QDateTime inTimeBase(const QDateTime &reading, TimeBase base)
{
    return base == TimeBase::Utc ? reading.toUTC() : reading.toLocalTime();
}

} // namespace Tracking
