// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// Audio as an upper-sideband receiver hears a chirp sounder: each echo a tone rising 100 Hz
// per ms (or hzPerMs) through the 300-2700 Hz passband, plus white noise. Written from the
// physics, not from the detector: the tone passes f Hz f / 100 ms after the chirp reaches the
// dial.

#include <QList>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

struct SyntheticEcho
{
    double delayMs = 0;
    double levelDb = 0; // relative to the signal the SNR is given for
};

// `samples` samples at `rate`; the chirp reaches the dial frequency `arrivalSample` samples
// in, and each echo that much later again. SNR: the 0 dB tone's power over the noise power in
// the 2,400 Hz passband.
inline std::vector<float> syntheticAudio(int rate,
                                         qsizetype samples,
                                         double arrivalSample,
                                         const QList<SyntheticEcho> &echoes,
                                         double snrDb,
                                         unsigned seed,
                                         double hzPerMs = 100)
{
    std::vector<float> audio(size_t(samples), 0.0f);
    const double amplitude = 0.1;
    for (const SyntheticEcho &echo : echoes) {
        const double level = amplitude * std::pow(10.0, echo.levelDb / 20);
        const double start = arrivalSample + echo.delayMs * rate / 1000;
        // From 300 Hz to 2,700 Hz (3 to 27 ms at 100 Hz per ms), with raised-cosine edges of
        // 50 Hz of the sweep (0.5 ms at 100 Hz per ms).
        const double from = 300 / hzPerMs / 1000, to = 2700 / hzPerMs / 1000;
        const double edgeS = 50 / hzPerMs / 1000;
        for (qsizetype n = qsizetype(start + from * rate); n < qsizetype(start + to * rate) + 1;
             ++n) {
            if (n < 0 || n >= samples)
                continue;
            const double t = (double(n) - start) / rate;
            if (t < from || t > to)
                continue;
            const double edge = std::min(t - from, to - t) / edgeS;
            const double shape = edge >= 1 ? 1 : 0.5 - 0.5 * std::cos(std::numbers::pi * edge);
            const double phase = std::numbers::pi * hzPerMs * 1000 * t * t;
            audio[size_t(n)] += float(level * shape * std::cos(phase));
        }
    }
    if (snrDb < 200) {
        // White noise over 0 to rate / 2 whose share in the passband gives the SNR.
        const double signalPower = amplitude * amplitude / 2;
        const double sigma
            = std::sqrt(signalPower / std::pow(10.0, snrDb / 10) * (rate / 2.0) / 2400.0);
        std::mt19937 random(seed);
        std::normal_distribution<double> gauss(0.0, sigma);
        for (float &sample : audio)
            sample += float(gauss(random));
    }
    return audio;
}
