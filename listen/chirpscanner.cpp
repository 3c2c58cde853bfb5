// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "chirpscanner.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace Listen {

namespace {

// The tone's edges tapered over this much of the sweep (raised cosine).
constexpr double ToneEdgeHz = 50;
// The lags searched around a chirp, coarsely and then sample by sample around the best: a
// step is well inside the correlation's main lobe (1 / 2,400 Hz).
constexpr qsizetype CoarseStep = 4;
// A wide band's chirp is heard for at most this long while finding: it stands far over the
// noise, and a second's block is scanned well within the second.
constexpr double FindCrossingMs = 400;
// A chirp heard this long (a wide band's) is not correlated sample by sample again.
constexpr double WideChirpMs = 100;
// The lags the correlation's noise is measured at, away from every chirp.
constexpr double NoiseStepMs = 5;

// |sum of block[arrival + fromSample + n] * tone[n]|^2; 0 where the tone runs off the block.
double powerAt(std::span<const float> block,
               qsizetype fromSample,
               const std::vector<std::complex<float>> &tone,
               qsizetype arrival)
{
    const qsizetype first = arrival + fromSample;
    if (first < 0 || first + qsizetype(tone.size()) > qsizetype(block.size()))
        return 0;
    std::complex<float> sum = 0;
    const float *samples = block.data() + first;
    for (size_t n = 0; n < tone.size(); ++n)
        sum += samples[n] * tone[n];
    return std::norm(sum);
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + qsizetype(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

ChirpScanner::ChirpScanner(const DetectorSettings &input, const QList<double> &ratesKhzPerS)
    : m_sampleRate(input.sampleRate)
    , m_iq(input.iq)
    , m_rates(ratesKhzPerS)
    , m_stepSamples(qsizetype(StepMs * input.sampleRate / 1000))
{
    const int sampleRate = input.sampleRate;
    const auto [lowHz, highHz] = passbandOf(input);
    for (const double rate : ratesKhzPerS) {
        DetectorSettings settings;
        settings.sampleRate = sampleRate;
        settings.iq = input.iq;
        // At most FindCrossingMs of a wide band's chirp (around the dial with I/Q).
        const double reachHz = rate * FindCrossingMs;
        settings.lowHz = input.iq ? std::max(lowHz, -reachHz / 2) : lowHz;
        settings.highHz
            = input.iq ? std::min(highHz, reachHz / 2) : std::min(highHz, lowHz + reachHz);
        settings.hzPerMs = rate;
        // The whole block is searched and measures the noise; its chirps hardly move the
        // median.
        settings.blockFromMs = 0;
        settings.searchFromMs = 0;
        settings.searchToMs = StepMs;
        settings.thresholdDb = ThresholdDb;
        settings.profileBins = 0;
        m_detectors.push_back(std::make_unique<ChirpDetector>(settings));
        const ChirpDetector &detector = *m_detectors.back();
        m_leadSamples = std::max(m_leadSamples, leadOf(detector));
        // A wide band's chirp is long: its tone is not correlated sample by sample.
        m_wide = m_wide || m_iq
                 || (detector.heardHighHz() - detector.heardLowHz()) / rate >= WideChirpMs;
        if (m_wide)
            continue;

        // The chirp's phase pi * rate * t^2, t from its arrival at the dial, while its tone
        // crosses the passband.
        const double hzPerS = rate * 1000;
        Tone tone{rate, qsizetype(std::ceil(settings.lowHz / hzPerS * sampleRate)), {}};
        for (qsizetype n = tone.fromSample;; ++n) {
            const double t = double(n) / sampleRate;
            const double hz = hzPerS * t;
            if (hz > settings.highHz)
                break;
            const double edge = std::min(hz - settings.lowHz, settings.highHz - hz) / ToneEdgeHz;
            const double shape = edge >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge);
            tone.samples.push_back(
                std::complex<float>(std::polar(shape, -std::numbers::pi * hzPerS * t * t)));
        }
        m_blockSamples = std::max(m_blockSamples,
                                  m_stepSamples + tone.fromSample + qsizetype(tone.samples.size()));
        m_tones.push_back(std::move(tone));
    }
    // Each detector's block begins its own lead before the first arrival searched.
    for (const auto &detector : m_detectors)
        m_blockSamples = std::max(m_blockSamples,
                                  m_leadSamples - leadOf(*detector) + detector->blockSamples());
}

qsizetype ChirpScanner::leadOf(const ChirpDetector &detector) const
{
    return qsizetype(std::ceil(detector.blockLeadMs() * m_sampleRate / 1000));
}

QList<ChirpScanner::Hit> ChirpScanner::scan(std::span<const float> block) const
{
    if (qsizetype(block.size()) < m_blockSamples * (m_iq ? 2 : 1))
        return {};
    QList<Hit> found;
    const qsizetype channels = m_iq ? 2 : 1;
    for (size_t r = 0; r < m_detectors.size(); ++r) {
        const ChirpDetector &detector = *m_detectors[r];
        const qsizetype length = detector.blockSamples();
        // The detector's block begins its lead before the first arrival searched.
        const qsizetype from = m_leadSamples - leadOf(detector);
        const double arrival = double(m_leadSamples - from);
        const auto part = block.subspan(size_t(from * channels), size_t(length * channels));
        for (const Echo &echo : detector.detect(part, arrival).echoes)
            found.append({echo.delayMs + double(m_leadSamples) * 1000 / m_sampleRate,
                          m_rates[qsizetype(r)],
                          echo.snrDb});
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
    if (m_wide)
        return chirps;
    QList<Hit> heard;
    for (const Hit &chirp : std::as_const(chirps))
        heard.append(heardBest(block, chirp, chirps));
    return heard;
}

// The detectors find the chirps; the rate is the one whose tone correlates best with the
// audio as it is. The detectors' impulse blanker can cut a chirp's own tone where echoes of
// several modes add in phase, and then its likeness at another rate, which the blanker
// leaves whole, stands higher.
ChirpScanner::Hit ChirpScanner::heardBest(std::span<const float> block,
                                          const Hit &found,
                                          const QList<Hit> &chirps) const
{
    const double perMs = m_sampleRate / 1000.0;
    const qsizetype centre = qsizetype(std::llround(found.offsetMs * perMs));
    const auto reach = qsizetype(OneChirpMs * perMs);
    Hit best = found;
    double bestDb = -std::numeric_limits<double>::infinity();
    for (const Tone &tone : m_tones) {
        const auto power = [&](qsizetype arrival) {
            return powerAt(block, tone.fromSample, tone.samples, arrival);
        };
        std::vector<double> noise;
        for (qsizetype arrival = 0; arrival < m_stepSamples;
             arrival += qsizetype(NoiseStepMs * perMs)) {
            if (std::all_of(chirps.cbegin(), chirps.cend(), [&](const Hit &chirp) {
                    return std::abs(double(arrival) / perMs - chirp.offsetMs) >= 2 * OneChirpMs;
                }))
                noise.push_back(power(arrival));
        }
        // The median of an exponential is ln 2 times its mean.
        const double noisePower = medianOf(std::move(noise)) / std::numbers::ln2;
        qsizetype peak = centre;
        double peakPower = 0;
        for (qsizetype arrival = centre - reach; arrival <= centre + reach; arrival += CoarseStep) {
            if (const double p = power(arrival); p > peakPower) {
                peakPower = p;
                peak = arrival;
            }
        }
        for (qsizetype arrival = peak - CoarseStep + 1; arrival < peak + CoarseStep; ++arrival) {
            if (const double p = power(arrival); p > peakPower) {
                peakPower = p;
                peak = arrival;
            }
        }
        if (!(noisePower > 0) || !(peakPower > 0))
            continue;
        const double snrDb = 10 * std::log10(peakPower / noisePower);
        if (snrDb > bestDb) {
            bestDb = snrDb;
            best = {double(peak) / perMs, tone.rateKhzPerS, snrDb};
        }
    }
    return best;
}

} // namespace Listen
