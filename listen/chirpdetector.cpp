// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "chirpdetector.h"

#include <kiss_fft.h>
#include <kiss_fftr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace Listen {

namespace {

// The tone is the chirp from ToneGuardHz below the passband (the dial frequency, for audio)
// to ToneGuardHz above it; the band's bins pick the passband out of it.
constexpr double ToneGuardHz = 300;
// The correlation is read at this rate, or at OutputOversampling times the band's width when
// that is faster, and peaks are interpolated between.
constexpr double OutputRate = 12000;
constexpr double OutputOversampling = 1.5;
// A lag counts when its tone crosses the band within the dial's span; a crossing of
// LongCrossingMs or more may lose CrossingSlack of it to the dial (a wide band's chirp lasts
// nearly as long as the dial holds).
constexpr double LongCrossingMs = 100;
constexpr double CrossingSlack = 0.1;
// I/Q's whole band: a sound card's filters pass this share of the rate either side.
constexpr double WholeBandShare = 0.45;
constexpr double DbLimit = 99.9;
// The share of the band at each edge that the template tapers off.
constexpr double EdgeTaper = 0.1;
// The side lobes' envelope near an echo, with a margin, and the level (-22 dB) they keep
// further out.
constexpr double SideLobeMargin = 4;
constexpr double SideLobeFloor = 0.0063;
// Whitening: each bin over the median of the bins within this of it. A carrier is notched:
// the bins where the mean of five stands five times over that or the mean of fifteen twice
// (noise alone does so once in thousands of blocks), and NotchGuardHz either side.
constexpr double SmoothingHz = 100;
constexpr std::pair<qsizetype, double> NotchRules[] = {{2, 5.0}, {7, 2.0}};
constexpr double NotchGuardHz = 4;
constexpr double WideWhiteningOver = 4;
// The level is measured in frames of LevelFrame output samples (10.7 ms at 12 kHz), half a
// frame apart, over enough of them that the frames a chirp touches are a quarter or fewer.
constexpr int LevelFrame = 128;
constexpr qsizetype LevelStrides = 64;
// The noise blanker: a 0.5 ms stretch whose power stands BlankOverLevel over the level and
// BlankOverChirp over the chirp-long stretch around it (a chirp, however strong, stands at
// most twice that) is zeroed, with BlankGuardMs either side.
constexpr double ShortMs = 0.5;
constexpr double BlankOverLevel = 10;
constexpr double BlankOverChirp = 3.5;
constexpr double BlankGuardMs = 0.5;
constexpr int BlankPasses = 3;

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

// The median of `values` (reordered).
double medianOf(std::vector<double> &values)
{
    if (values.empty())
        return 0;
    const auto middle = values.begin() + qsizetype(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The band's `bins` bins from `firstBin` of `spectrum` (a negative bin counts from the end, as
// an I/Q block's negative frequencies lie).
std::vector<kiss_fft_cpx>
bandOf(const std::vector<kiss_fft_cpx> &spectrum, qsizetype firstBin, qsizetype bins)
{
    const auto size = qsizetype(spectrum.size());
    std::vector<kiss_fft_cpx> band(static_cast<size_t>(bins));
    for (qsizetype b = 0; b < bins; ++b)
        band[size_t(b)] = spectrum[size_t(((firstBin + b) % size + size) % size)];
    return band;
}

// The conjugated spectrum of a tone over `bins` bins from `firstBin`, its band's edges tapered
// (a Tukey window over the bins) so that a strong echo's far side lobes stay under the
// threshold.
void templateOf(const std::vector<kiss_fft_cpx> &spectrum,
                qsizetype firstBin,
                qsizetype bins,
                std::vector<float> &re,
                std::vector<float> &im)
{
    const std::vector<kiss_fft_cpx> band = bandOf(spectrum, firstBin, bins);
    re.resize(size_t(bins));
    im.resize(size_t(bins));
    for (qsizetype b = 0; b < bins; ++b) {
        const double x = (double(b) + 0.5) / double(bins);
        const double edge = std::min(x, 1 - x) / EdgeTaper;
        const double weight = edge >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge);
        re[size_t(b)] = float(weight * band[size_t(b)].r);
        im[size_t(b)] = float(-weight * band[size_t(b)].i);
    }
}

// The correlation's power: `spectrum`'s band times a template, through the inverse FFT.
std::vector<double> correlate(kiss_fft_cfg inverse,
                              const std::vector<kiss_fft_cpx> &spectrum,
                              const std::vector<float> &re,
                              const std::vector<float> &im)
{
    std::vector<kiss_fft_cpx> product(spectrum.size(), kiss_fft_cpx{0, 0});
    for (size_t b = 0; b < re.size(); ++b) {
        const kiss_fft_cpx x = spectrum[b];
        product[b] = {x.r * re[b] - x.i * im[b], x.r * im[b] + x.i * re[b]};
    }
    std::vector<kiss_fft_cpx> out(spectrum.size());
    kiss_fft(inverse, product.data(), out.data());
    std::vector<double> power(out.size());
    std::transform(out.begin(), out.end(), power.begin(), [](kiss_fft_cpx c) {
        return double(c.r) * c.r + double(c.i) * c.i;
    });
    return power;
}

// The band's bins, each over the smoothed spectrum around it, carriers notched;
// `outputSamples` long, the rest zero.
std::vector<kiss_fft_cpx> whitened(const std::vector<kiss_fft_cpx> &spectrum,
                                   qsizetype outputSamples,
                                   double binHz,
                                   bool wide)
{
    const auto bins = qsizetype(spectrum.size());
    std::vector<kiss_fft_cpx> band(size_t(outputSamples), kiss_fft_cpx{0, 0});
    if (bins == 0)
        return band;
    std::vector<double> power(static_cast<size_t>(bins));
    for (qsizetype b = 0; b < bins; ++b) {
        const kiss_fft_cpx x = spectrum[size_t(b)];
        power[size_t(b)] = double(x.r) * x.r + double(x.i) * x.i;
    }
    // The smoothed spectrum: medians over SmoothingHz either side (a window kept whole at the
    // band's edges), every quarter window, drawn between by straight lines.
    const qsizetype half = std::clamp<qsizetype>(qsizetype(SmoothingHz / binHz), 1, bins / 2);
    const qsizetype stride = std::max<qsizetype>(half / 2, 1);
    std::vector<double> centres, levels, window;
    for (qsizetype c = 0; c < bins + stride; c += stride) {
        const qsizetype centre = std::min(c, bins - 1);
        const qsizetype from
            = std::clamp<qsizetype>(centre - half, 0, std::max<qsizetype>(bins - 2 * half - 1, 0));
        window.assign(power.begin() + from, power.begin() + std::min(from + 2 * half + 1, bins));
        centres.push_back(double(centre));
        levels.push_back(medianOf(window) / std::numbers::ln2);
        if (centre == bins - 1)
            break;
    }
    const double top = *std::max_element(levels.begin(), levels.end());
    std::vector<double> smooth(static_cast<size_t>(bins));
    for (qsizetype b = 0, k = 0; b < bins; ++b) {
        while (k + 2 < qsizetype(centres.size()) && centres[size_t(k + 1)] < double(b))
            ++k;
        const double x0 = centres[size_t(k)];
        const double x1 = centres[std::min(size_t(k + 1), centres.size() - 1)];
        const double f = x1 > x0 ? std::clamp((double(b) - x0) / (x1 - x0), 0.0, 1.0) : 0.0;
        smooth[size_t(b)] = std::max((1 - f) * levels[size_t(k)]
                                         + f * levels[std::min(size_t(k + 1), levels.size() - 1)],
                                     top * 1e-9);
    }
    // Carriers notched, and the skirts of one keyed on: where the mean of a few bins stands
    // well over the smoothed spectrum, or the mean of more bins stands over it.
    std::vector<char> notched(static_cast<size_t>(bins), 0);
    std::vector<double> sums(static_cast<size_t>(bins) + 1, 0.0);
    for (qsizetype b = 0; b < bins; ++b)
        sums[size_t(b + 1)] = sums[size_t(b)] + power[size_t(b)];
    const qsizetype guard = qsizetype(std::ceil(NotchGuardHz / binHz));
    for (const auto &[reach, ratio] : NotchRules) {
        for (qsizetype centre = 0; centre < bins; ++centre) {
            const qsizetype from = std::max<qsizetype>(centre - reach, 0);
            const qsizetype to = std::min(centre + reach + 1, bins);
            const double mean = (sums[size_t(to)] - sums[size_t(from)]) / double(to - from);
            if (mean > ratio * smooth[size_t(centre)]) {
                std::fill(notched.begin() + std::max<qsizetype>(from - guard, 0),
                          notched.begin() + std::min(to + guard, bins),
                          1);
            }
        }
    }
    // A wide band's chirp stands over the noise in every bin, and echoes close together
    // ripple its spectrum: there only what stands well over the band's typical level (a
    // carrier's skirts, a strong station) is evened out.
    double least = 0;
    if (wide) {
        std::vector<double> typical = levels;
        least = WideWhiteningOver * medianOf(typical);
    }
    for (qsizetype b = 0; b < bins; ++b) {
        if (notched[size_t(b)])
            continue;
        const double weight = 1 / std::sqrt(std::max(smooth[size_t(b)], least));
        const kiss_fft_cpx x = spectrum[size_t(b)];
        band[size_t(b)] = {float(x.r * weight), float(x.i * weight)};
    }
    return band;
}

// The whitened band's time series from `spanBegin` to `spanEnd` (output samples, `perMs` a
// millisecond; the band takes `bandShare` of the output rate, and the chirp rises `hzPerMs`
// and crosses it in `chirpMs`): its impulses zeroed and its level brought to one.
void evenOut(std::vector<kiss_fft_cpx> &series,
             qsizetype spanBegin,
             qsizetype spanEnd,
             double perMs,
             double bandShare,
             double hzPerMs,
             double chirpMs,
             kiss_fft_cfg frameForward)
{
    const qsizetype length = spanEnd - spanBegin;
    if (length <= 0)
        return;
    std::vector<double> power(series.size());
    std::transform(series.begin(), series.end(), power.begin(), [](kiss_fft_cpx c) {
        return double(c.r) * c.r + double(c.i) * c.i;
    });

    // The level in each frame (half a frame apart): the mean of the lower three quarters of
    // the band's bins of its spectrum, dechirped so that a chirp holds one or two bins, as a
    // carrier does. Then, over the frames around, the mean of those within a factor of two of
    // their median, which a crash, or a chirp's frames (a quarter of them), do not move.
    std::vector<double> frameLevels, centres, values;
    if (length >= LevelFrame) {
        std::array<kiss_fft_cpx, LevelFrame> in{}, out{};
        std::array<std::complex<double>, LevelFrame> window{};
        double windowPower = 0;
        // Cycles per output sample per output sample.
        const double sweep = hzPerMs * 1000 / (perMs * 1000) / (perMs * 1000);
        for (int k = 0; k < LevelFrame; ++k) {
            const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (k + 0.5) / LevelFrame);
            const double t = k - LevelFrame / 2.0;
            window[size_t(k)] = std::polar(hann, -std::numbers::pi * sweep * t * t);
            windowPower += hann * hann;
        }
        const int lastBin = std::max(int(std::floor(bandShare * LevelFrame)) - 1, 1);
        // The mean of an exponential's lower three quarters is 0.538 times its mean.
        const double scale = bandShare / windowPower / 0.538;
        // Half a frame apart; a long chirp's level, over many frames, a frame apart.
        const qsizetype hop = chirpMs >= LongCrossingMs ? LevelFrame : LevelFrame / 2;
        for (qsizetype start = spanBegin; start < spanEnd; start += hop) {
            const qsizetype from = std::min(start, spanEnd - LevelFrame);
            for (int k = 0; k < LevelFrame; ++k) {
                const kiss_fft_cpx x = series[size_t(from + k)];
                const std::complex<double> y = std::complex<double>(x.r, x.i) * window[size_t(k)];
                in[size_t(k)] = {float(y.real()), float(y.imag())};
            }
            kiss_fft(frameForward, in.data(), out.data());
            values.clear();
            for (int k = 1; k <= lastBin; ++k)
                values.push_back(double(out[size_t(k)].r) * out[size_t(k)].r
                                 + double(out[size_t(k)].i) * out[size_t(k)].i);
            const auto kept
                = values.begin() + std::max<qsizetype>(qsizetype(values.size() * 3 / 4), 1);
            std::nth_element(values.begin(), kept, values.end());
            const double sum = std::accumulate(values.begin(), kept, 0.0);
            frameLevels.push_back(sum / double(std::max<qsizetype>(kept - values.begin(), 1))
                                  * scale);
            centres.push_back(double(from) + LevelFrame / 2.0);
            if (from + LevelFrame >= spanEnd)
                break;
        }
    } else {
        values.assign(power.begin() + spanBegin, power.begin() + spanEnd);
        frameLevels.push_back(medianOf(values) / std::numbers::ln2);
        centres.push_back(double(spanBegin + spanEnd) / 2);
    }
    const auto frames = qsizetype(frameLevels.size());
    const qsizetype around = 8 * qsizetype(std::ceil(chirpMs * perMs / LevelFrame + 1)) + 1;
    // Over many frames (a wide band's long chirp), measured every LevelStrides-th of them and
    // drawn between.
    std::vector<double> levels(static_cast<size_t>(frames));
    const qsizetype stride = std::max<qsizetype>(around / LevelStrides, 1);
    const auto levelAt = [&](qsizetype f) {
        const qsizetype first
            = std::clamp<qsizetype>(f - around / 2, 0, std::max<qsizetype>(frames - around, 0));
        values.assign(frameLevels.begin() + first,
                      frameLevels.begin() + std::min(first + around, frames));
        const double middle = medianOf(values);
        double sum = 0;
        int count = 0;
        for (const double v : values) {
            if (v <= 2 * middle && v >= middle / 2) {
                sum += v;
                ++count;
            }
        }
        return count > 0 ? sum / count : middle;
    };
    double level0 = levelAt(0);
    for (qsizetype f = 0; f < frames; f += stride) {
        const qsizetype next = std::min(f + stride, frames - 1);
        const double level1 = next > f ? levelAt(next) : level0;
        for (qsizetype g = f; g <= next; ++g) {
            const double t = double(g - f) / double(std::max<qsizetype>(next - f, 1));
            levels[size_t(g)] = level0 + (level1 - level0) * t;
        }
        level0 = level1;
    }
    std::vector<double> level(series.size(), 0.0);
    for (qsizetype j = spanBegin, f = 0; j < spanEnd; ++j) {
        while (f + 2 < frames && centres[size_t(f + 1)] < double(j))
            ++f;
        const qsizetype next = std::min(f + 1, frames - 1);
        const double width = centres[size_t(next)] - centres[size_t(f)];
        const double t
            = width > 0 ? std::clamp((double(j) - centres[size_t(f)]) / width, 0.0, 1.0) : 0.0;
        level[size_t(j)] = (1 - t) * levels[size_t(f)] + t * levels[size_t(next)];
    }

    // The blanker, over running sums of the power; the stretch around a stretch is measured
    // again with the impulses already found taken out, so that crashes close together are
    // each found.
    const auto sumsOf = [&](const std::vector<char> *out) {
        std::vector<double> sums(power.size() + 1, 0.0);
        for (size_t j = 0; j < power.size(); ++j)
            sums[j + 1] = sums[j] + (out && (*out)[j] ? level[j] : power[j]);
        return sums;
    };
    const auto meanAround = [&](const std::vector<double> &sums, qsizetype j, qsizetype width) {
        const qsizetype from = std::max(j - width / 2, spanBegin);
        const qsizetype to = std::min(j + width / 2 + 1, spanEnd);
        return (sums[size_t(to)] - sums[size_t(from)]) / double(to - from);
    };
    const qsizetype shortWidth = std::max<qsizetype>(qsizetype(ShortMs * perMs), 1);
    const qsizetype chirpWidth = std::max<qsizetype>(qsizetype(chirpMs * perMs), shortWidth);
    const qsizetype guard = qsizetype(std::ceil(BlankGuardMs * perMs));
    const std::vector<double> sums = sumsOf(nullptr);
    std::vector<char> blank(series.size(), 0);
    for (int pass = 0; pass < BlankPasses; ++pass) {
        const std::vector<double> cleaned = pass == 0 ? sums : sumsOf(&blank);
        bool found = false;
        for (qsizetype j = spanBegin; j < spanEnd; ++j) {
            const double here = meanAround(sums, j, shortWidth);
            if (blank[size_t(j)] || here <= BlankOverLevel * level[size_t(j)]
                || here <= BlankOverChirp * meanAround(cleaned, j, chirpWidth))
                continue;
            const qsizetype to = std::min(j + shortWidth / 2 + guard + 1, spanEnd);
            for (qsizetype k = std::max(j - shortWidth / 2 - guard, spanBegin); k < to; ++k)
                blank[size_t(k)] = 1;
            found = true;
        }
        if (!found)
            break;
    }
    for (qsizetype j = spanBegin; j < spanEnd; ++j) {
        const double gain
            = !blank[size_t(j)] && level[size_t(j)] > 0 ? 1 / std::sqrt(level[size_t(j)]) : 0.0;
        series[size_t(j)].r = float(series[size_t(j)].r * gain);
        series[size_t(j)].i = float(series[size_t(j)].i * gain);
    }
}

// The spectrum of a block: through `complex` for I/Q, else of its real parts through `real`.
std::vector<kiss_fft_cpx>
spectrumOf(kiss_fftr_cfg real, kiss_fft_cfg complex, const std::vector<kiss_fft_cpx> &block)
{
    if (complex) {
        std::vector<kiss_fft_cpx> spectrum(block.size());
        kiss_fft(complex, block.data(), spectrum.data());
        return spectrum;
    }
    std::vector<float> parts(block.size());
    std::transform(block.begin(), block.end(), parts.begin(), [](kiss_fft_cpx c) { return c.r; });
    std::vector<kiss_fft_cpx> spectrum(block.size() / 2 + 1);
    kiss_fftr(real, parts.data(), spectrum.data());
    return spectrum;
}

} // namespace

struct ChirpDetector::Plans
{
    kiss_fftr_cfg forward = nullptr;       // a block of audio
    kiss_fft_cfg forwardComplex = nullptr; // a block of I/Q
    kiss_fft_cfg inverse = nullptr;
    kiss_fft_cfg forwardOutput = nullptr; // the whitened band, back from the output rate
    kiss_fft_cfg frameForward = nullptr;  // the level's frames
    ~Plans()
    {
        kiss_fft_free(frameForward);
        kiss_fftr_free(forward);
        kiss_fft_free(forwardComplex);
        kiss_fft_free(inverse);
        kiss_fft_free(forwardOutput);
    }
};

ChirpDetector::ChirpDetector(const DetectorSettings &settings)
    : m_settings(settings)
    , m_plans(std::make_unique<Plans>())
{
    const double rate = m_settings.sampleRate;
    const double hzPerMs = std::max(m_settings.hzPerMs, 1e-3);
    const bool iq = m_settings.iq;
    const double nyquist = rate / 2;
    const double bottomHz = iq ? -nyquist : 0;
    // An echo searched is heard through the frequencies its chirp crosses while the dial holds
    // the step.
    const auto [lowHz, highHz] = passbandOf(m_settings);
    m_lowHz = std::clamp(std::max(lowHz, hzPerMs * (m_settings.dialFromMs - m_settings.searchToMs)),
                         bottomHz,
                         nyquist);
    m_highHz
        = std::clamp(std::min(highHz, hzPerMs * (m_settings.dialToMs - m_settings.searchFromMs)),
                     m_lowHz,
                     nyquist);
    const double toneLowHz = std::max(m_lowHz - ToneGuardHz, bottomHz);
    const double toneHighHz = std::min(m_highHz + ToneGuardHz, nyquist);
    m_toneFromMs = toneLowHz / hzPerMs;
    m_toneMs = (toneHighHz - toneLowHz) / hzPerMs;

    // The block holds every searched delay's tone whole, and begins blockFromMs before the
    // arrival at the latest; a chirp heard long enough is measured against its own noise.
    m_longCrossing = (m_highHz - m_lowHz) / hzPerMs >= LongCrossingMs;
    const double blockFromMs
        = std::min(m_longCrossing ? m_settings.searchFromMs : m_settings.blockFromMs,
                   m_settings.searchFromMs + m_toneFromMs);
    m_leadMs = -blockFromMs;
    const double spanMs = m_settings.searchToMs + m_toneFromMs + m_toneMs - blockFromMs;
    const int spanSamples = int(std::ceil(spanMs * rate / 1000)) + 1;
    m_blockSamples
        = iq ? kiss_fft_next_fast_size(spanSamples) : kiss_fftr_next_fast_size_real(spanSamples);
    const double outputRate = std::max(OutputRate, OutputOversampling * (m_highHz - m_lowHz));
    m_outputSamples
        = kiss_fft_next_fast_size(int(std::ceil(double(m_blockSamples) * outputRate / rate)));
    if (iq)
        m_plans->forwardComplex = kiss_fft_alloc(int(m_blockSamples), 0, nullptr, nullptr);
    else
        m_plans->forward = kiss_fftr_alloc(int(m_blockSamples), 0, nullptr, nullptr);
    m_plans->inverse = kiss_fft_alloc(int(m_outputSamples), 1, nullptr, nullptr);
    m_plans->forwardOutput = kiss_fft_alloc(int(m_outputSamples), 0, nullptr, nullptr);
    m_plans->frameForward = kiss_fft_alloc(LevelFrame, 0, nullptr, nullptr);

    // The noise's peaks over a level L (as a power ratio) come at a rate proportional to
    // exp(-L / 2) per correlation cell searched: a search k times wider needs 2 ln k more. A
    // band k times wider has k times the cells, and its noise a longer tail (the whitening
    // holds back less): 2.5 ln k more keeps to one false echo in 281 steps.
    const double width = m_settings.searchToMs - m_settings.searchFromMs;
    const double wider = (m_highHz - m_lowHz) / DetectorSettings::NarrowBandHz;
    m_thresholdRatio = std::pow(10.0, m_settings.thresholdDb / 10)
                       + 2 * std::log(std::max(width / DetectorSettings::NarrowSearchMs, 1.0))
                       + 2.5 * std::log(std::max(wider, 1.0));

    const double binHz = rate / double(m_blockSamples);
    m_firstBin = qsizetype(std::ceil(m_lowHz / binHz));
    qsizetype lastBin = std::min(qsizetype(std::floor(m_highHz / binHz)), m_blockSamples / 2);
    if (iq) {
        m_firstBin = std::max(m_firstBin, -((m_blockSamples - 1) / 2));
        lastBin = std::min(lastBin, (m_blockSamples - 1) / 2);
    }
    const qsizetype bins = std::clamp<qsizetype>(lastBin - m_firstBin + 1, 0, m_outputSamples);

    // The tone a chirp makes above the dial: its phase is pi * rate * t^2, t from its arrival
    // at the dial. The lower sideband hears it falling: the same tone backwards, ending at
    // m_toneFromMs before the arrival; swapped I/Q channels hear it mirrored.
    const qsizetype toneSamples = std::min(qsizetype(m_toneMs * rate / 1000), m_blockSamples);
    const double hzPerSecond = hzPerMs * 1000;
    std::vector<kiss_fft_cpx> rising(size_t(m_blockSamples), kiss_fft_cpx{0, 0});
    std::vector<kiss_fft_cpx> falling(size_t(m_blockSamples), kiss_fft_cpx{0, 0});
    for (qsizetype n = 0; n < toneSamples; ++n) {
        const double t = m_toneFromMs / 1000 + double(n) / rate;
        const double phase = std::numbers::pi * hzPerSecond * t * t;
        if (iq) {
            rising[size_t(n)] = {float(std::cos(phase)), float(std::sin(phase))};
            falling[size_t(n)] = {float(std::cos(phase)), float(-std::sin(phase))};
        } else {
            const double back = -(m_toneFromMs + m_toneMs) / 1000 + double(n) / rate;
            rising[size_t(n)] = {float(std::cos(phase)), 0};
            falling[size_t(n)] = {float(std::cos(std::numbers::pi * hzPerSecond * back * back)), 0};
        }
    }
    templateOf(spectrumOf(m_plans->forward, m_plans->forwardComplex, rising),
               m_firstBin,
               bins,
               m_risingRe,
               m_risingIm);
    templateOf(spectrumOf(m_plans->forward, m_plans->forwardComplex, falling),
               m_firstBin,
               bins,
               m_fallingRe,
               m_fallingIm);
}

ChirpDetector::~ChirpDetector() = default;

Detection ChirpDetector::detect(std::span<const float> block,
                                double arrivalSample,
                                double dialFromSample,
                                double dialToSample) const
{
    Detection result;
    const qsizetype channels = m_settings.iq ? 2 : 1;
    if (qsizetype(block.size()) != m_blockSamples * channels || !std::isfinite(arrivalSample)
        || std::isnan(dialFromSample) || std::isnan(dialToSample))
        return result;
    const double rate = m_settings.sampleRate;
    const double total = double(m_blockSamples);
    const double dialFrom = std::clamp(dialFromSample, 0.0, total);
    const double dialTo = std::clamp(dialToSample, dialFrom, total);

    // A long crossing of the band may lose some of itself to the dial's span (or the span to
    // it): that much at either end of the span is tapered, and a lag losing no more counts.
    const double within
        = std::min((m_highHz - m_lowHz) / m_settings.hzPerMs * rate / 1000, dialTo - dialFrom);
    const double slack = within >= LongCrossingMs * rate / 1000 ? CrossingSlack * within : 0.0;

    // Another dial's audio is silenced; audio that is not a number is no audio. The dial's
    // moves are tapered, as the band's edges are, so that a strong echo's side lobes stay low.
    std::vector<kiss_fft_cpx> samples(size_t(m_blockSamples), kiss_fft_cpx{0, 0});
    for (qsizetype n = 0; n < m_blockSamples; ++n) {
        if (double(n) < dialFrom || double(n) >= dialTo)
            continue;
        const float in = block[size_t(n * channels)];
        const float quadrature = channels == 2 ? block[size_t(n * channels + 1)] : 0.0f;
        if (!std::isfinite(in) || !std::isfinite(quadrature))
            return result;
        const double edge
            = slack > 0 ? std::min(double(n) - dialFrom, dialTo - double(n)) / slack : 1.0;
        const float weight
            = edge >= 1 ? 1.0f : float(0.5 - 0.5 * std::cos(std::numbers::pi * edge));
        samples[size_t(n)] = {in * weight, quadrature * weight};
    }
    const std::vector<kiss_fft_cpx> band
        = whitened(bandOf(spectrumOf(m_plans->forward, m_plans->forwardComplex, samples),
                          m_firstBin,
                          qsizetype(m_risingRe.size())),
                   m_outputSamples,
                   rate / total,
                   m_longCrossing);
    std::vector<kiss_fft_cpx> series(band.size());
    kiss_fft(m_plans->inverse, band.data(), series.data());
    const double step = total / double(m_outputSamples);
    const qsizetype spanBegin = std::min(qsizetype(std::ceil(dialFrom / step)), m_outputSamples);
    const qsizetype spanEnd
        = std::clamp(qsizetype(std::ceil(dialTo / step)), spanBegin, m_outputSamples);
    std::fill(series.begin(), series.begin() + spanBegin, kiss_fft_cpx{0, 0});
    std::fill(series.begin() + spanEnd, series.end(), kiss_fft_cpx{0, 0});
    evenOut(series,
            spanBegin,
            spanEnd,
            rate / 1000 / step,
            double(m_risingRe.size()) / double(m_outputSamples),
            m_settings.hzPerMs,
            (m_highHz - m_lowHz) / m_settings.hzPerMs,
            m_plans->frameForward);
    std::vector<kiss_fft_cpx> cleaned(series.size());
    kiss_fft(m_plans->forwardOutput, series.data(), cleaned.data());
    std::fill(cleaned.begin() + qsizetype(m_risingRe.size()), cleaned.end(), kiss_fft_cpx{0, 0});

    const std::vector<double> power = correlate(m_plans->inverse, cleaned, m_risingRe, m_risingIm);
    const std::vector<double> fallingPower
        = correlate(m_plans->inverse, cleaned, m_fallingRe, m_fallingIm);

    // Output sample j is the lag of j * step input samples: the rising tone begins there, and
    // the falling one of the lower sideband ends a tone later. Lags past the last whole
    // overlap of the tone with the block wrap around and are not read; a lag counts only when
    // its tone's passage through the band lies within the dial's span (a long passage nearly).
    const double toneSamples = m_toneMs * rate / 1000;
    const double toneFrom = m_toneFromMs * rate / 1000;
    const double inBandFrom = m_lowHz / m_settings.hzPerMs * rate / 1000;
    const double inBandTo = m_highHz / m_settings.hzPerMs * rate / 1000;
    const qsizetype lastValid = qsizetype(std::floor((total - toneSamples) / step));
    struct Lags
    {
        double arrivalAfterLag; // input samples from the lag to the chirp's arrival
        qsizetype first;        // the lags read
        qsizetype last;
    };
    const auto lagsFor = [&](double arrivalAfterLag, double bandFrom, double bandTo) {
        const double enters = dialFrom - bandFrom; // the passage begins with the span
        const double leaves = dialTo - bandTo;     // the passage ends with it
        Lags lags{arrivalAfterLag, 0, 0};
        lags.first = std::max<qsizetype>(
            qsizetype(std::ceil((std::min(enters, leaves) - slack) / step)), 0);
        lags.last
            = std::min(qsizetype(std::floor((std::max(enters, leaves) + slack) / step)), lastValid);
        return lags;
    };
    const Lags risingLags = lagsFor(-toneFrom, inBandFrom - toneFrom, inBandTo - toneFrom);
    const double fallingEnd = toneFrom + toneSamples;
    const Lags fallingLags
        = m_settings.iq ? risingLags
                        : lagsFor(fallingEnd, fallingEnd - inBandTo, fallingEnd - inBandFrom);
    const auto delayOf = [&](const Lags &lags, double j) {
        return (j * step + lags.arrivalAfterLag - arrivalSample) * 1000 / rate;
    };
    const auto firstAt = [&](const Lags &lags, double ms) {
        return qsizetype(
            std::ceil((ms * rate / 1000 + arrivalSample - lags.arrivalAfterLag) / step));
    };
    // The noise: the median over the lags read (an exponential's median is its mean times
    // ln 2). The matched filter's output SNR (2E/N0) counts the noise of one phase of the
    // correlation: half the mean of its squared magnitude.
    const auto noiseOf = [&](const std::vector<double> &p, const Lags &lags) {
        if (lags.last < lags.first)
            return 0.0;
        std::vector<double> read(p.begin() + lags.first, p.begin() + lags.last + 1);
        return medianOf(read) / std::numbers::ln2 / 2;
    };
    // The local peaks searched, interpolated on a parabola through the amplitudes around them.
    const auto peaksOf = [&](const std::vector<double> &p, const Lags &lags, double &strongest) {
        const qsizetype begin
            = std::max(firstAt(lags, m_settings.searchFromMs), std::max<qsizetype>(lags.first, 1));
        const qsizetype end = std::min(firstAt(lags, m_settings.searchToMs),
                                       std::min(lags.last, m_outputSamples - 2) + 1);
        std::vector<Peak> found;
        strongest = 0;
        for (qsizetype j = begin; j < end; ++j) {
            const double here = p[size_t(j)];
            strongest = std::max(strongest, here);
            if (here < p[size_t(j - 1)] || here <= p[size_t(j + 1)])
                continue;
            const double a0 = std::sqrt(p[size_t(j - 1)]);
            const double a1 = std::sqrt(here);
            const double a2 = std::sqrt(p[size_t(j + 1)]);
            const double curve = a0 - 2 * a1 + a2;
            const double shift = curve < 0 ? std::clamp(0.5 * (a0 - a2) / curve, -0.5, 0.5) : 0.0;
            const double top = a1 - 0.25 * (a0 - a2) * shift;
            found.push_back({double(j) + shift, top * top});
        }
        return found;
    };

    double strongest = 0;
    std::vector<Peak> peaks = peaksOf(power, risingLags, strongest);
    double strongestFalling = 0;
    peaksOf(fallingPower, fallingLags, strongestFalling);
    // Audio without noise (a digital silence, a test tone) is measured as 90 dB over a floor.
    const double floor = std::numeric_limits<double>::min();
    const double noise = std::max({noiseOf(power, risingLags), strongest * 1e-9, floor});
    const double fallingNoise
        = std::max({noiseOf(fallingPower, fallingLags), strongestFalling * 1e-9, floor});
    result.peakDb = decibels(strongest / noise);
    result.lowerSidebandDb = decibels(strongestFalling / fallingNoise);
    const double thresholdRatio = m_thresholdRatio;
    result.lowerSideband = strongestFalling >= fallingNoise * thresholdRatio
                           && strongestFalling / fallingNoise > strongest / noise;

    // A weaker peak is an echo only when it stands the threshold over the noise plus the
    // side lobes of the stronger echoes there: they fall as 1 / (pi * bandwidth * distance)^2
    // near an echo, and stay near SideLobeFloor out to the chirp's length (the ripples of
    // a short chirp's spectrum).
    std::sort(
        peaks.begin(), peaks.end(), [](const Peak &a, const Peak &b) { return a.power > b.power; });
    const double bandwidthHz = m_highHz - m_lowHz;
    const double msPerOutput = step * 1000 / rate;
    std::vector<Peak> echoes;
    for (const Peak &peak : peaks) {
        if (result.lowerSideband || qsizetype(echoes.size()) >= m_settings.maxEchoes
            || peak.power < noise * thresholdRatio)
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
        result.echoes.append({delayOf(risingLags, echo.position), decibels(echo.power / noise)});

    // The profile: in each bin of delay, the strongest correlation.
    const int bins = std::max(m_settings.profileBins, 0);
    result.profileDb.reserve(bins);
    const double binMs = (m_settings.profileToMs - m_settings.profileFromMs) / std::max(bins, 1);
    for (int b = 0; b < bins; ++b) {
        const double fromMs = m_settings.profileFromMs + b * binMs;
        const qsizetype begin = firstAt(risingLags, fromMs);
        const qsizetype end = std::max(firstAt(risingLags, fromMs + binMs), begin + 1);
        double best = 0;
        for (qsizetype j = std::max(begin, risingLags.first);
             j < std::min(end, risingLags.last + 1);
             ++j)
            best = std::max(best, power[size_t(j)]);
        result.profileDb.append(float(decibels(best / noise)));
    }
    return result;
}

std::pair<double, double> passbandOf(const DetectorSettings &settings)
{
    const double wholeHz
        = settings.iq ? WholeBandShare * settings.sampleRate : settings.sampleRate / 2.0;
    return {std::isfinite(settings.lowHz) ? settings.lowHz
            : settings.iq                 ? -wholeHz
                                          : 0,
            std::isfinite(settings.highHz) ? settings.highHz : wholeHz};
}

void keepLargeBuffers()
{
#if defined(__GLIBC__)
    // Buffers up to 32 MiB (the most glibc allows) come from the heap, and the heap keeps up
    // to 256 MiB free.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

} // namespace Listen
