// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "chirpscanner.h"

#include <algorithm>
#include <cmath>

namespace Listen {

ChirpScanner::ChirpScanner(int sampleRate, const QList<double> &ratesKhzPerS)
    : m_rates(ratesKhzPerS)
    , m_stepSamples(qsizetype(StepMs * sampleRate / 1000))
{
    for (const double rate : ratesKhzPerS) {
        DetectorSettings settings;
        settings.sampleRate = sampleRate;
        settings.hzPerMs = rate;
        // The whole block is searched and measures the noise; its chirps hardly move the
        // median.
        settings.blockFromMs = 0;
        settings.searchFromMs = 0;
        settings.searchToMs = StepMs;
        settings.thresholdDb = ThresholdDb;
        settings.profileBins = 0;
        m_detectors.push_back(std::make_unique<ChirpDetector>(settings));
        m_blockSamples = std::max(m_blockSamples, m_detectors.back()->blockSamples());
    }
}

QList<ChirpScanner::Hit> ChirpScanner::scan(std::span<const float> block) const
{
    QList<Hit> found;
    for (size_t r = 0; r < m_detectors.size(); ++r) {
        const qsizetype length = m_detectors[r]->blockSamples();
        if (qsizetype(block.size()) < length)
            return {};
        for (const Echo &echo : m_detectors[r]->detect(block.first(size_t(length)), 0).echoes)
            found.append({echo.delayMs, m_rates[qsizetype(r)], echo.snrDb});
    }
    std::sort(
        found.begin(), found.end(), [](const Hit &a, const Hit &b) { return a.snrDb > b.snrDb; });
    QList<Hit> chirps;
    for (const Hit &hit : std::as_const(found)) {
        if (std::none_of(chirps.cbegin(), chirps.cend(), [&](const Hit &chirp) {
                return std::abs(chirp.offsetMs - hit.offsetMs) < OneChirpMs;
            }))
            chirps.append(hit);
    }
    return chirps;
}

} // namespace Listen
