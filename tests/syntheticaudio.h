// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Audio as a receiver hears a chirp sounder: each echo a tone rising 100 Hz per ms (or
// hzPerMs) through the 300-2700 Hz passband, plus white noise, and what a real radio adds
// (carriers, static crashes, its filter, its AGC, the other sideband). Written from the
// physics, not from the detector: in the upper sideband the tone passes f Hz f / 100 ms after
// the chirp reaches the dial; in the lower sideband it passes f Hz f / 100 ms before.

#include <QList>

#include <cmath>
#include <numbers>
#include <random>
#include <span>
#include <vector>

struct SyntheticEcho
{
    double delayMs = 0;
    double levelDb = 0;         // relative to the signal the SNR is given for
    bool lowerSideband = false; // heard in LSB: a falling tone ending at 0 Hz at the arrival
};

// The amplitude of a 0 dB echo's tone.
inline constexpr double SyntheticToneAmplitude = 0.1;

// The noise's power in the 2,400 Hz passband that puts a 0 dB echo at `snrDb`.
inline double passbandNoisePower(double snrDb)
{
    return SyntheticToneAmplitude * SyntheticToneAmplitude / 2 / std::pow(10.0, snrDb / 10);
}

// One echo of a chirp that reaches the dial `arrivalSample` samples in: from 300 Hz to 2,700 Hz
// with raised-cosine edges of 50 Hz of the sweep (0.5 ms at 100 Hz per ms).
inline void addChirp(std::span<float> audio,
                     int rate,
                     double arrivalSample,
                     const SyntheticEcho &echo,
                     double hzPerMs = 100)
{
    const double level = SyntheticToneAmplitude * std::pow(10.0, echo.levelDb / 20);
    const double start = arrivalSample + echo.delayMs * rate / 1000;
    // Seconds from the arrival; in the lower sideband the same stretch before it.
    const double sign = echo.lowerSideband ? -1 : 1;
    const double from = 300 / hzPerMs / 1000, to = 2700 / hzPerMs / 1000;
    const double edgeS = 50 / hzPerMs / 1000;
    const double first = echo.lowerSideband ? start - to * rate : start + from * rate;
    const double last = echo.lowerSideband ? start - from * rate : start + to * rate;
    const auto samples = qsizetype(audio.size());
    for (qsizetype n = std::max<qsizetype>(qsizetype(first), 0);
         n < std::min(qsizetype(last) + 1, samples);
         ++n) {
        const double t = sign * (double(n) - start) / rate;
        if (t < from || t > to)
            continue;
        const double edge = std::min(t - from, to - t) / edgeS;
        const double shape = edge >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge);
        const double phase = std::numbers::pi * hzPerMs * 1000 * t * t;
        audio[size_t(n)] += float(level * shape * std::cos(phase));
    }
}

// White noise over 0 to rate / 2 whose share in the passband puts a 0 dB echo at `snrDb`.
inline void addNoise(std::span<float> audio, int rate, double snrDb, unsigned seed)
{
    const double sigma = std::sqrt(passbandNoisePower(snrDb) * (rate / 2.0) / 2400.0);
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, sigma);
    for (float &sample : audio)
        sample += float(gauss(random));
}

// `samples` samples at `rate`; the chirp reaches the dial frequency `arrivalSample` samples
// in, and each echo that much later again. SNR: the 0 dB tone's power over the noise power in
// the 2,400 Hz passband (no noise from 200 dB up).
inline std::vector<float> syntheticAudio(int rate,
                                         qsizetype samples,
                                         double arrivalSample,
                                         const QList<SyntheticEcho> &echoes,
                                         double snrDb,
                                         unsigned seed,
                                         double hzPerMs = 100)
{
    std::vector<float> audio(size_t(samples), 0.0f);
    for (const SyntheticEcho &echo : echoes)
        addChirp(audio, rate, arrivalSample, echo, hzPerMs);
    if (snrDb < 200)
        addNoise(audio, rate, snrDb, seed);
    return audio;
}

// A carrier (a broadcast station's, a heterodyne) at `hz` of audio, `levelDb` over the
// passband's noise power `noisePower`, keyed on at `fromSample` with a 1 ms raised-cosine rise.
inline void addCarrier(std::span<float> audio,
                       int rate,
                       double noisePower,
                       double levelDb,
                       double hz,
                       double fromSample = 0)
{
    const double amplitude = std::sqrt(2 * noisePower * std::pow(10.0, levelDb / 10));
    const double riseSamples = rate / 1000.0;
    for (qsizetype n = std::max<qsizetype>(qsizetype(std::ceil(fromSample)), 0);
         n < qsizetype(audio.size());
         ++n) {
        const double since = (double(n) - fromSample) / riseSamples;
        const double rise = since >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * since);
        audio[size_t(n)]
            += float(amplitude * rise * std::cos(2 * std::numbers::pi * hz * double(n) / rate));
    }
}

// Static crashes (lightning's sferics): at each of `atSamples` a burst of white noise whose
// power starts `levelDb` over the passband's noise (in the passband) and falls by e every
// third of `lengthMs`.
inline void addCrashes(std::span<float> audio,
                       int rate,
                       double noisePower,
                       const QList<double> &atSamples,
                       double levelDb,
                       double lengthMs,
                       unsigned seed)
{
    const double sigma
        = std::sqrt(noisePower * std::pow(10.0, levelDb / 10) * (rate / 2.0) / 2400.0);
    const double decaySamples = lengthMs / 3 * rate / 1000;
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, sigma);
    for (const double at : atSamples) {
        const auto first = qsizetype(std::ceil(at));
        for (qsizetype n = std::max<qsizetype>(first, 0);
             n < std::min(qsizetype(at + 4 * decaySamples) + 1, qsizetype(audio.size()));
             ++n) {
            const double envelope = std::exp(-0.5 * (double(n) - at) / decaySamples);
            audio[size_t(n)] += float(envelope * gauss(random));
        }
    }
}

// A second-order section (RBJ's cookbook), run in place.
inline void runBiquad(std::span<float> audio, const double (&b)[3], const double (&a)[3])
{
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (float &sample : audio) {
        const double x = sample;
        const double y = (b[0] * x + b[1] * x1 + b[2] * x2 - a[1] * y1 - a[2] * y2) / a[0];
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        sample = float(y);
    }
}

// The receiver's filter: fourth-order Butterworth edges at `lowHz` and `highHz`.
inline void applyPassband(std::span<float> audio, int rate, double lowHz, double highHz)
{
    for (const double q : {0.5412, 1.3066}) {
        for (const bool high : {true, false}) {
            const double w = 2 * std::numbers::pi * (high ? lowHz : highHz) / rate;
            const double alpha = std::sin(w) / (2 * q), c = std::cos(w);
            const double k = high ? (1 + c) / 2 : (1 - c) / 2;
            const double b[3] = {k, high ? -(1 + c) : 1 - c, k};
            const double a[3] = {1 + alpha, -2 * c, 1 - alpha};
            runBiquad(audio, b, a);
        }
    }
}

// The receiver's AGC: the gain holds the envelope (a peak follower with a fast attack and a
// slow decay) at `kneeAmplitude`, and is 1 below it.
inline void applyAgc(std::span<float> audio,
                     int rate,
                     double kneeAmplitude,
                     double attackMs = 1,
                     double decayMs = 300)
{
    const double attack = 1 - std::exp(-1000.0 / (attackMs * rate));
    const double decay = std::exp(-1000.0 / (decayMs * rate));
    double envelope = 0;
    for (float &sample : audio) {
        const double level = std::abs(double(sample));
        envelope = level > envelope ? envelope + attack * (level - envelope) : envelope * decay;
        if (envelope > kneeAmplitude)
            sample = float(sample * kneeAmplitude / envelope);
    }
}

// What a software radio hears: audio through a passband from lowHz to highHz above the dial,
// or I/Q centred on the dial (I and Q in turn), where the chirp stands (t - arrival) * rate
// from the dial, below it before its arrival; the echoes' chirps from lowHz to highHz with
// raised-cosine edges of 50 Hz of the sweep. Swapped I/Q hears it mirrored.
struct SyntheticBand
{
    double lowHz = 300;
    double highHz = 2700;
    bool iq = false;
    bool swapped = false;
};

// `frames` frames at `rate` of the echoes of a chirp reaching the dial `arrivalSample` frames
// in, each at a carrier-to-noise density of `cn0DbHz` (+ its level) over white noise (none
// from 200 dB-Hz up): a tone's power C over the noise's power in one hertz, N0, as the
// matched filter's output SNR 2E/N0 = 2 C T / N0 for the T seconds the tone is heard.
inline std::vector<float> syntheticBandAudio(int rate,
                                             qsizetype frames,
                                             double arrivalSample,
                                             const QList<SyntheticEcho> &echoes,
                                             double cn0DbHz,
                                             unsigned seed,
                                             const SyntheticBand &band,
                                             double hzPerMs = 100)
{
    const int channels = band.iq ? 2 : 1;
    std::vector<float> out(size_t(frames * channels), 0.0f);
    // A noise density of 1e-8 per Hz: each channel's variance is N0 times half the rate.
    const double n0 = 1e-8;
    const double hzPerS = hzPerMs * 1000;
    const double edgeS = 50 / hzPerS;
    const double from = band.lowHz / hzPerS, to = band.highHz / hzPerS;
    for (const SyntheticEcho &echo : echoes) {
        // C = A^2 / 2 for a real tone, A^2 for a complex one.
        const double power = n0 * std::pow(10.0, (cn0DbHz + echo.levelDb) / 10);
        const double amplitude = band.iq ? std::sqrt(power) : std::sqrt(2 * power);
        const double start = arrivalSample + echo.delayMs * rate / 1000;
        for (qsizetype n = std::max<qsizetype>(qsizetype(start + from * rate), 0);
             n < std::min(qsizetype(start + to * rate) + 1, frames);
             ++n) {
            const double t = (double(n) - start) / rate;
            if (t < from || t > to)
                continue;
            const double edge = std::min(t - from, to - t) / edgeS;
            const double shape = edge >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge);
            const double phase = std::numbers::pi * hzPerS * t * t;
            if (band.iq) {
                const double q = amplitude * shape * std::sin(phase) * (band.swapped ? -1 : 1);
                out[size_t(2 * n)] += float(amplitude * shape * std::cos(phase));
                out[size_t(2 * n + 1)] += float(q);
            } else {
                out[size_t(n)] += float(amplitude * shape * std::cos(phase));
            }
        }
    }
    if (cn0DbHz < 200) {
        std::mt19937 random(seed);
        std::normal_distribution<double> gauss(0.0, std::sqrt(n0 * rate / 2));
        for (float &sample : out)
            sample += float(gauss(random));
    }
    return out;
}
