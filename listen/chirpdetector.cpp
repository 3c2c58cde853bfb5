// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "chirpdetector.h"

#include <kiss_fft.h>
#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace Listen {

namespace {

// The tone is the chirp from the dial frequency to 3 kHz above it; the band's bins pick the
// passband out of it.
constexpr double ToneHz = 3000;
// The correlation is read at this rate or faster, and peaks are interpolated between.
constexpr double OutputRate = 12000;
constexpr double DbLimit = 99.9;
// The share of the band at each edge that the template tapers off.
constexpr double EdgeTaper = 0.1;
// The side lobes' envelope near an echo, with a margin, and the level (-22 dB) they keep
// further out.
constexpr double SideLobeMargin = 4;
constexpr double SideLobeFloor = 0.0063;

double decibels(double ratio)
{
    if (!(ratio > 0))
        return -DbLimit;
    return std::clamp(10 * std::log10(ratio), -DbLimit, DbLimit);
}

struct Peak
{
    double position = 0; // output sample, interpolated
    double power = 0;
};

} // namespace

struct ChirpDetector::Plans
{
    kiss_fftr_cfg forward = nullptr;
    kiss_fft_cfg inverse = nullptr;
    ~Plans()
    {
        kiss_fftr_free(forward);
        kiss_fft_free(inverse);
    }
};

ChirpDetector::ChirpDetector(const DetectorSettings &settings)
    : m_settings(settings)
    , m_toneMs(ToneHz / std::max(settings.hzPerMs, 1e-3))
    , m_plans(std::make_unique<Plans>())
{
    const double rate = m_settings.sampleRate;
    const double spanMs = m_settings.searchToMs - m_settings.noiseFromMs + m_toneMs;
    m_blockSamples = kiss_fftr_next_fast_size_real(int(std::ceil(spanMs * rate / 1000)) + 1);
    m_outputSamples
        = kiss_fft_next_fast_size(int(std::ceil(double(m_blockSamples) * OutputRate / rate)));
    m_plans->forward = kiss_fftr_alloc(int(m_blockSamples), 0, nullptr, nullptr);
    m_plans->inverse = kiss_fft_alloc(int(m_outputSamples), 1, nullptr, nullptr);

    // The noise's peaks over a level L (as a power ratio) come at a rate proportional to
    // exp(-L / 2) per ms searched: a search k times wider needs 2 ln k more.
    const double width = m_settings.searchToMs - m_settings.searchFromMs;
    m_thresholdRatio = std::pow(10.0, m_settings.thresholdDb / 10)
                       + 2 * std::log(std::max(width / DetectorSettings::NarrowSearchMs, 1.0));

    const double binHz = rate / double(m_blockSamples);
    m_firstBin = qsizetype(std::ceil(m_settings.lowHz / binHz));
    const qsizetype lastBin
        = std::min(qsizetype(std::floor(m_settings.highHz / binHz)), m_blockSamples / 2);
    const qsizetype bins = std::clamp<qsizetype>(lastBin - m_firstBin + 1, 0, m_outputSamples);

    // The tone a chirp makes above the dial: its phase is pi * rate * t^2.
    std::vector<float> tone(size_t(m_blockSamples), 0.0f);
    const qsizetype toneSamples = std::min(qsizetype(m_toneMs * rate / 1000), m_blockSamples);
    const double hzPerSecond = m_settings.hzPerMs * 1000;
    for (qsizetype n = 0; n < toneSamples; ++n) {
        const double t = double(n) / rate;
        tone[size_t(n)] = float(std::cos(std::numbers::pi * hzPerSecond * t * t));
    }
    std::vector<kiss_fft_cpx> spectrum(size_t(m_blockSamples / 2 + 1));
    kiss_fftr(m_plans->forward, tone.data(), spectrum.data());
    m_templateRe.resize(size_t(bins));
    m_templateIm.resize(size_t(bins));
    // The band's edges tapered (a Tukey window over the bins) so that a strong echo's far
    // side lobes stay under the threshold.
    for (qsizetype b = 0; b < bins; ++b) {
        const double x = (double(b) + 0.5) / double(bins);
        const double edge = std::min(x, 1 - x) / EdgeTaper;
        const double weight = edge >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge);
        m_templateRe[size_t(b)] = float(weight * spectrum[size_t(m_firstBin + b)].r);
        m_templateIm[size_t(b)] = float(-weight * spectrum[size_t(m_firstBin + b)].i);
    }
}

ChirpDetector::~ChirpDetector() = default;

Detection ChirpDetector::detect(std::span<const float> block, double arrivalSample) const
{
    Detection result;
    if (qsizetype(block.size()) != m_blockSamples)
        return result;

    std::vector<kiss_fft_cpx> spectrum(size_t(m_blockSamples / 2 + 1));
    kiss_fftr(m_plans->forward, block.data(), spectrum.data());
    std::vector<kiss_fft_cpx> product(size_t(m_outputSamples), kiss_fft_cpx{0, 0});
    for (size_t b = 0; b < m_templateRe.size(); ++b) {
        const kiss_fft_cpx x = spectrum[size_t(m_firstBin) + b];
        product[b] = {x.r * m_templateRe[b] - x.i * m_templateIm[b],
                      x.r * m_templateIm[b] + x.i * m_templateRe[b]};
    }
    std::vector<kiss_fft_cpx> correlation(static_cast<size_t>(m_outputSamples));
    kiss_fft(m_plans->inverse, product.data(), correlation.data());
    std::vector<double> power(correlation.size());
    std::transform(correlation.begin(), correlation.end(), power.begin(), [](kiss_fft_cpx c) {
        return double(c.r) * c.r + double(c.i) * c.i;
    });

    // Output sample j is the lag of j * step input samples; lags past the last whole overlap
    // of the tone with the block wrap around and are not read.
    const double rate = m_settings.sampleRate;
    const double step = double(m_blockSamples) / double(m_outputSamples);
    const auto delayOf = [&](double j) {
        return (j * step - arrivalSample) * 1000 / rate;
    };
    const auto firstAt = [&](double ms) {
        return qsizetype(std::ceil((ms * rate / 1000 + arrivalSample) / step));
    };
    const qsizetype lastValid
        = qsizetype(std::floor((double(m_blockSamples) - m_toneMs * rate / 1000) / step));
    const auto clampIndex = [&](qsizetype j) {
        return std::clamp<qsizetype>(j, 0, lastValid);
    };

    const qsizetype noiseBegin = clampIndex(firstAt(m_settings.noiseFromMs));
    const qsizetype noiseEnd = clampIndex(firstAt(m_settings.noiseToMs));
    double noise = 0;
    if (noiseEnd > noiseBegin && m_settings.noiseByMedian) {
        // The noise's power is exponentially distributed: its median is its mean times ln 2.
        std::vector<double> sorted(power.begin() + noiseBegin, power.begin() + noiseEnd);
        const auto middle = sorted.begin() + sorted.size() / 2;
        std::nth_element(sorted.begin(), middle, sorted.end());
        noise = *middle / std::numbers::ln2;
    } else {
        for (qsizetype j = noiseBegin; j < noiseEnd; ++j)
            noise += power[size_t(j)];
        noise = noiseEnd > noiseBegin ? noise / double(noiseEnd - noiseBegin) : 0;
    }
    // The matched filter's output SNR (2E/N0) counts the noise of one phase of the correlation:
    // half the mean of its squared magnitude.
    noise /= 2;

    const qsizetype searchBegin
        = std::max<qsizetype>(clampIndex(firstAt(m_settings.searchFromMs)), 1);
    const qsizetype searchEnd = std::min(clampIndex(firstAt(m_settings.searchToMs)), lastValid - 1);
    const double thresholdRatio = m_thresholdRatio;
    double strongest = 0;
    std::vector<Peak> peaks;
    for (qsizetype j = searchBegin; j < searchEnd; ++j) {
        const double p = power[size_t(j)];
        strongest = std::max(strongest, p);
        if (p < power[size_t(j - 1)] || p <= power[size_t(j + 1)])
            continue;
        // The vertex of a parabola through the amplitudes around the peak.
        const double a0 = std::sqrt(power[size_t(j - 1)]);
        const double a1 = std::sqrt(p);
        const double a2 = std::sqrt(power[size_t(j + 1)]);
        const double curve = a0 - 2 * a1 + a2;
        const double shift = curve < 0 ? std::clamp(0.5 * (a0 - a2) / curve, -0.5, 0.5) : 0.0;
        const double top = a1 - 0.25 * (a0 - a2) * shift;
        peaks.push_back({double(j) + shift, top * top});
    }
    // Audio without noise (a digital silence, a test tone) is measured as 90 dB over a floor.
    noise = std::max({noise, strongest * 1e-9, std::numeric_limits<double>::min()});
    result.peakDb = decibels(strongest / noise);

    // A weaker peak is an echo only when it stands the threshold over the noise plus the
    // side lobes of the stronger echoes there: they fall as 1 / (pi * bandwidth * distance)^2
    // near an echo, and stay near SideLobeFloor out to the chirp's length (the ripples of
    // a short chirp's spectrum).
    std::sort(
        peaks.begin(), peaks.end(), [](const Peak &a, const Peak &b) { return a.power > b.power; });
    const double bandwidthHz = m_settings.highHz - m_settings.lowHz;
    const double msPerOutput = step * 1000 / rate;
    std::vector<Peak> echoes;
    for (const Peak &peak : peaks) {
        if (qsizetype(echoes.size()) >= m_settings.maxEchoes || peak.power < noise * thresholdRatio)
            break;
        double needed = noise * thresholdRatio;
        for (const Peak &echo : echoes) {
            const double apartMs = std::abs(echo.position - peak.position) * msPerOutput;
            const double lobe = std::numbers::pi * bandwidthHz * apartMs / 1000;
            if (lobe < std::numbers::pi)
                needed = std::numeric_limits<double>::infinity(); // within the main lobe
            else if (apartMs < m_toneMs)
                needed += echo.power * std::max(SideLobeMargin / (lobe * lobe), SideLobeFloor);
        }
        if (peak.power >= needed)
            echoes.push_back(peak);
    }
    for (const Peak &echo : echoes)
        result.echoes.append({delayOf(echo.position), decibels(echo.power / noise)});

    // The profile: in each bin of delay, the strongest correlation.
    const int bins = std::max(m_settings.profileBins, 0);
    result.profileDb.reserve(bins);
    const double binMs = (m_settings.profileToMs - m_settings.profileFromMs) / std::max(bins, 1);
    for (int b = 0; b < bins; ++b) {
        const double fromMs = m_settings.profileFromMs + b * binMs;
        const qsizetype begin = firstAt(fromMs);
        const qsizetype end = std::max(firstAt(fromMs + binMs), begin + 1);
        double best = 0;
        for (qsizetype j = std::max<qsizetype>(begin, 0); j < std::min(end, lastValid + 1); ++j)
            best = std::max(best, power[size_t(j)]);
        result.profileDb.append(float(decibels(best / noise)));
    }
    return result;
}

} // namespace Listen
