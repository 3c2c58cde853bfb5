// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sweepplan.h"

#include "daytime.h"

namespace Listen {

std::optional<PlannedStep> planStep(qint64 tickMs, const Tracking::StepResult &step)
{
    constexpr qint64 HzPerMs = 100;
    // The tick reads the schedule DayTimeLeadMs ahead of the clock.
    // Between sweeps the radio waits at 2 MHz; the chirp is due there only once the step
    // holds the sweep's own position.
    const qint64 sweepStartMs = tickMs + Tracking::DayTimeLeadMs - step.chirpPositionMs;
    const qint64 arrivalMs = sweepStartMs + step.stepHz / HzPerMs;
    const qint64 dueInMs = arrivalMs - tickMs;
    if (dueInMs <= 0 || dueInMs > Tracking::DayTimeLeadMs)
        return std::nullopt;
    return PlannedStep{sweepStartMs, step.stepHz, arrivalMs};
}

} // namespace Listen
