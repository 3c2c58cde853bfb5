// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "soundpath.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Listen {

namespace {

// The edges are quantiles, so that a few spurious echoes (noise peaks anywhere in the wide
// search) move neither.
constexpr double LowQuantile = 0.1;
constexpr double HighQuantile = 0.9;
// The picture starts this much before the lower edge once the delay is taken off.
constexpr double StartMarginMs = 1;
constexpr double MostAddedMs = 1000; // as --audio-delay takes

double quantile(const std::vector<double> &sorted, double q)
{
    return sorted[std::size_t(std::floor(q * double(sorted.size() - 1)))];
}

QString ms(double value)
{
    return QString::number(std::lround(value));
}

} // namespace

std::optional<SoundPathAdvice>
soundPathAdvice(std::span<const double> echoDelaysMs, double drawnFromMs, double drawnToMs)
{
    std::vector<double> sorted;
    for (const double delay : echoDelaysMs) {
        if (std::isfinite(delay))
            sorted.push_back(delay);
    }
    if (sorted.size() < std::size_t(SoundPathLeastEchoes))
        return std::nullopt;
    std::sort(sorted.begin(), sorted.end());
    // Inside when at least half of them are drawn.
    const double median = quantile(sorted, 0.5);
    if (median >= drawnFromMs && median <= drawnToMs)
        return std::nullopt;
    SoundPathAdvice advice;
    advice.echoesFromMs = quantile(sorted, LowQuantile);
    advice.echoesToMs = quantile(sorted, HighQuantile);
    const double added = std::floor(advice.echoesFromMs - drawnFromMs - StartMarginMs);
    if (added >= 1 && added <= MostAddedMs)
        advice.addedMs = int(added);
    return advice;
}

QString soundPathText(const SoundPathAdvice &advice, double drawnFromMs, double drawnToMs)
{
    const QString where = QStringLiteral("The echoes stand at %1 to %2 ms, outside the picture "
                                         "(%3 to %4 ms)")
                              .arg(ms(advice.echoesFromMs),
                                   ms(advice.echoesToMs),
                                   QString::number(drawnFromMs),
                                   QString::number(drawnToMs));
    if (!advice.addedMs)
        return where + QStringLiteral(". Draw their delays with --delay-range.");
    return where
           + QStringLiteral(": the sound path seems to add about %1 ms. Use --audio-delay %1 "
                            "next time.")
                 .arg(*advice.addedMs);
}

} // namespace Listen
