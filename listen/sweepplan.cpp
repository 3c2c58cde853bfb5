// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sweepplan.h"

#include "daytime.h"

#include <algorithm>

namespace Listen {

std::optional<PlannedStep>
planStep(qint64 tickMs, const Tracking::StepResult &step, const Tracking::Sounder &sounder)
{
    constexpr double PlannedWithinMs = 2000;
    // The tick reads the schedule DayTimeLeadMs ahead of the clock; between sweeps the radio
    // waits at 2 MHz, where the chirp is due only once the sweep itself gets there.
    const qint64 sweepStartMs
        = tickMs + Tracking::DayTimeLeadMs - (qint64(step.chirpPositionMs) - step.offsetMs);
    const double arrivalMs = double(sweepStartMs) + sounder.reachMs(step.stepHz);
    const double dueInMs = arrivalMs - double(tickMs);
    if (!(dueInMs > 0 && dueInMs <= PlannedWithinMs))
        return std::nullopt;
    // The tuning moves the dial on when its sweep (lead and offset included) reaches the next
    // step, or passes 30 MHz; a chirp that comes after that is heard on another dial.
    const double nextHz = std::min(step.stepHz + Tracking::SweepStepHz, Tracking::SweepCeilingHz);
    const double movedOnMs = double(tickMs) - step.chirpPositionMs + sounder.reachMs(nextHz);
    if (!(movedOnMs > arrivalMs))
        return std::nullopt;
    return PlannedStep{
        sweepStartMs, step.stepHz, arrivalMs, sounder.rateKhzPerS, double(tickMs), movedOnMs};
}

} // namespace Listen
