// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "sounder.h"

#include <optional>

namespace Listen {

// One step of a sweep to listen to: while the dial holds dialHz, the chirp reaches it at
// arrivalMs and crosses the passband right after. Times in ms since the epoch.
struct PlannedStep
{
    qint64 sweepStartMs = 0; // the sweep passes 0 Hz, as the sounder's schedule has it
    qint32 dialHz = 0;
    double arrivalMs = 0;
    double rateKhzPerS = Tracking::DefaultRateKhzPerS;
    // The dial holds this step from the tick that sent it until the schedule moves it on at
    // the earliest: audio outside is another step's.
    double dialFromMs = 0;
    double dialToMs = 0;
    friend bool operator==(const PlannedStep &, const PlannedStep &) = default;
};

// The audio passband's top: the chirp has left it this many Hz after reaching the dial.
inline constexpr double PassbandTopHz = 3000;

// The step to listen to after the tick at tickMs (the clock's reading, ms since the epoch)
// that computed `step` for `sounder`: the dial's own step once the chirp is due on it within
// the next two seconds, none otherwise (before that, after it, and while the radio waits
// between sweeps). The sounder is where its period, chirptime and rate put it: the offset
// trims the tuning, not the sounder.
std::optional<PlannedStep>
planStep(qint64 tickMs, const Tracking::StepResult &step, const Tracking::Sounder &sounder);

} // namespace Listen
