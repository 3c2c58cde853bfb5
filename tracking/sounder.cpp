// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sounder.h"

#include "daytime.h"

namespace Tracking {

std::optional<Sounder> Sounder::read(const QString &periodText,
                                     const QString &chirptimeText,
                                     double rateKhzPerS,
                                     const QLocale &locale)
{
    // At the day's first tick (a day time of the lead alone), as a tick would compute it.
    const StepInputs inputs{periodText, chirptimeText, 0, rateKhzPerS};
    const StepOutcome outcome = ComputeStep(DayTimeLeadMs, inputs, locale);
    const auto *step = std::get_if<StepResult>(&outcome);
    if (!step)
        return std::nullopt;
    return of(*step, rateKhzPerS);
}

Sounder Sounder::of(const StepResult &step, double rateKhzPerS)
{
    Sounder sounder;
    sounder.periodMs = step.periodMs;
    sounder.rateKhzPerS = rateKhzPerS;
    const qint64 sinceStart = qint64(step.chirpPositionMs) - step.offsetMs;
    const qint64 start = (qint64(step.periodPositionMs) - sinceStart) % step.periodMs;
    sounder.chirptimeMs = double(start < 0 ? start + step.periodMs : start);
    return sounder;
}

std::optional<double> periodSeconds(const QString &periodText, const QLocale &locale)
{
    const auto sounder = Sounder::read(periodText, QStringLiteral("0"), DefaultRateKhzPerS, locale);
    if (!sounder)
        return std::nullopt;
    return sounder->periodMs / 1000.0;
}

} // namespace Tracking
