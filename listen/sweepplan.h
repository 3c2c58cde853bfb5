// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "chirpschedule.h"

#include <optional>

namespace Listen {

// One step of a sweep to listen to: while the dial holds dialHz, the chirp reaches it at
// arrivalMs and crosses the passband right after. Times in ms since the epoch.
struct PlannedStep
{
    qint64 sweepStartMs = 0; // the sweep passes 0 Hz, as the sounder's schedule has it
    qint32 dialHz = 0;
    double arrivalMs = 0;
    friend bool operator==(const PlannedStep &, const PlannedStep &) = default;
};

// The step to listen to after the tick at tickMs (the clock's reading, ms since the epoch)
// that computed `step` at the rate: the dial's own step once the chirp is due on it within
// the next two seconds, none otherwise (before that, after it, and while the radio waits
// between sweeps). The sounder is where its period, chirptime and rate put it: the offset
// trims the tuning, not the sounder.
std::optional<PlannedStep> planStep(qint64 tickMs,
                                    const Tracking::StepResult &step,
                                    double rateKhzPerS = Tracking::DefaultRateKhzPerS);

// How long after its arrival at the dial the chirp has left the passband (3 kHz), in ms.
inline double passageMs(double rateKhzPerS)
{
    return 3000 / rateKhzPerS;
}

// The number of steps in a sweep, 2 to 30 MHz, and the column of a dial frequency.
inline constexpr int SweepSteps = 281;
inline int stepColumn(qint32 dialHz)
{
    return (dialHz - Tracking::SweepFloorHz) / 100'000;
}

} // namespace Listen
