// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sweepplan.h"

#include "daytime.h"

namespace Listen {

std::optional<PlannedStep>
planStep(qint64 tickMs, const Tracking::StepResult &step, double rateKhzPerS)
{
    constexpr double PlannedWithinMs = 2000;
    // The tick reads the schedule DayTimeLeadMs ahead of the clock; between sweeps the radio
    // waits at 2 MHz, where the chirp is due only once the sweep itself gets there.
    const qint64 sweepStartMs
        = tickMs + Tracking::DayTimeLeadMs - (qint64(step.chirpPositionMs) - step.offsetMs);
    const double arrivalMs = double(sweepStartMs) + step.stepHz / rateKhzPerS;
    const double dueInMs = arrivalMs - double(tickMs);
    if (!(dueInMs > 0 && dueInMs <= PlannedWithinMs))
        return std::nullopt;
    return PlannedStep{sweepStartMs, step.stepHz, arrivalMs};
}

} // namespace Listen
