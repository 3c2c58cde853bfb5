// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "chirpschedule.h"

#include <optional>

namespace Tracking {

// One sounder: when its sweep starts in each period and how fast it rises. Everything that
// asks where a sounder's sweep is (the tuning, listening, finding and the ionogram) asks this.
struct Sounder
{
    qint32 periodMs = 0;
    double chirptimeMs = 0; // from the period's start to the sweep's 0 Hz, to the ms
    double rateKhzPerS = DefaultRateKhzPerS;

    // The sounder the window's texts describe, read as a tick reads them; none when a tick
    // could not compute a step from them.
    static std::optional<Sounder> read(const QString &periodText,
                                       const QString &chirptimeText,
                                       double rateKhzPerS = DefaultRateKhzPerS,
                                       const QLocale &locale = {});
    // The sounder a tick computed `step` for (the offset taken back out).
    static Sounder of(const StepResult &step, double rateKhzPerS);

    // How long after the sweep's start it reaches hz, in ms.
    double reachMs(double hz) const { return hz / rateKhzPerS; }

    friend bool operator==(const Sounder &, const Sounder &) = default;
};

// A period typed as the window's field takes it, in seconds; none when a tick could not use
// it.
std::optional<double> periodSeconds(const QString &periodText, const QLocale &locale = {});

} // namespace Tracking
