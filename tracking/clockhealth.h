// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Tracking {

// The kernel's view of its clock (adjtimex with no change requested), in microseconds.
struct KernelClock
{
    bool unsynchronised = true; // STA_UNSYNC set, or the clock state is TIME_ERROR
    qint64 maxErrorUs = 0;      // the kernel's maximum error
};

enum class ClockState { Synchronised, NotSynchronised, Unknown };

struct ClockHealth
{
    ClockState state = ClockState::Unknown;
    std::optional<qint64> boundUs; // how far off the clock may be, when a source says
    friend bool operator==(const ClockHealth &, const ClockHealth &) = default;
};

// More than this and the radio is more than 5 kHz off the chirp.
inline constexpr qint64 ClockToleranceUs = 50'000;

// How well the clock is synchronised, from the kernel's figures and from what
// "chronyc -c tracking" printed where chrony runs (chrony's figures win: it keeps the
// kernel's flag only with rtcsync). Either may be missing.
ClockHealth judgeClock(const std::optional<KernelClock> &kernel,
                       const std::optional<QByteArray> &chronycOutput);

// "Clock synchronised, within 4 ms", "Clock not synchronised: the radio may miss the
// chirp", "Clock state unknown".
QString clockHealthText(const ClockHealth &health);

// Known not to be synchronised, or off by more than the tolerance.
bool clockIsBad(const ClockHealth &health);

// Synchronised, and not known to be off by more than the tolerance.
bool clockIsGood(const ClockHealth &health);

} // namespace Tracking
