// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "clockhealth.h"

#include <QByteArrayList>

#include <cmath>

namespace Tracking {
namespace {

// systemd counts the kernel clock as synchronised below this maximum error.
constexpr qint64 KernelSynchronisedBelowUs = 16'000'000;

// chrony's "chronyc -c tracking": ..., [4] system time offset (s), ..., [10] root delay (s),
// [11] root dispersion (s), [12] update interval, [13] leap status.
std::optional<ClockHealth> fromChrony(const QByteArray &line)
{
    const QByteArrayList fields = line.trimmed().split(',');
    if (fields.size() < 14)
        return std::nullopt;
    bool offsetOk = false, delayOk = false, dispersionOk = false;
    const double offset = fields[4].toDouble(&offsetOk);
    const double delay = fields[10].toDouble(&delayOk);
    const double dispersion = fields[11].toDouble(&dispersionOk);
    if (!offsetOk || !delayOk || !dispersionOk)
        return std::nullopt;
    if (fields[13].trimmed() == "Not synchronised")
        return ClockHealth{ClockState::NotSynchronised, std::nullopt};
    // chrony's own bound on the clock's error: the offset, half the delay to the reference
    // and the dispersion gathered on the way.
    const double boundS = std::abs(offset) + std::abs(delay) / 2 + std::abs(dispersion);
    if (!std::isfinite(boundS) || boundS > 1e6)
        return std::nullopt;
    return ClockHealth{ClockState::Synchronised, qint64(std::ceil(boundS * 1e6))};
}

} // namespace

ClockHealth judgeClock(const std::optional<KernelClock> &kernel,
                       const std::optional<QByteArray> &chronycOutput)
{
    if (chronycOutput) {
        if (const auto chrony = fromChrony(chronycOutput->split('\n').value(0)))
            return *chrony;
    }
    if (!kernel)
        return {};
    if (kernel->unsynchronised || kernel->maxErrorUs >= KernelSynchronisedBelowUs)
        return {ClockState::NotSynchronised, std::nullopt};
    // systemd-timesyncd writes 0 into the error estimates: no bound is known then.
    if (kernel->maxErrorUs <= 0)
        return {ClockState::Synchronised, std::nullopt};
    return {ClockState::Synchronised, kernel->maxErrorUs};
}

QString clockHealthText(const ClockHealth &health)
{
    switch (health.state) {
    case ClockState::Synchronised:
        if (!health.boundUs)
            return QStringLiteral("Clock synchronised");
        return QStringLiteral("Clock synchronised, within %1 ms")
            .arg((*health.boundUs + 999) / 1000);
    case ClockState::NotSynchronised:
        return QStringLiteral("Clock not synchronised: the radio may miss the chirp");
    case ClockState::Unknown:
        break;
    }
    return QStringLiteral("Clock state unknown");
}

bool clockIsBad(const ClockHealth &health)
{
    return health.state == ClockState::NotSynchronised
           || (health.boundUs && *health.boundUs > ClockToleranceUs);
}

bool clockIsGood(const ClockHealth &health)
{
    return health.state == ClockState::Synchronised && !clockIsBad(health);
}

} // namespace Tracking
