// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "chirpdetector.h"

#include <QList>

#include <complex>
#include <memory>
#include <span>
#include <vector>

namespace Listen {

// Finds chirps of any of several rates crossing a parked dial, a block of audio at a time:
// each chirp once, at the rate whose tone it matches best.
class ChirpScanner
{
public:
    // `input`: the input's rate, its passband and whether it gives I/Q.
    ChirpScanner(const DetectorSettings &input, const QList<double> &ratesKhzPerS);

    struct Hit
    {
        double offsetMs = 0; // from the block's start to the chirp's arrival at the dial
        double rateKhzPerS = 0;
        double snrDb = 0;
    };

    // Blocks start stepSamples() apart and are blockSamples() long (frames: I/Q pairs with
    // I/Q); a chirp is found in the block whose stepSamples() from leadSamples() on it
    // arrives in.
    qsizetype blockSamples() const { return m_blockSamples; }
    qsizetype stepSamples() const { return m_stepSamples; }
    qsizetype leadSamples() const { return m_leadSamples; }
    QList<Hit> scan(std::span<const float> block) const;

    static constexpr double StepMs = 1000;
    // Over a whole second, every second, noise must not be taken for a chirp.
    static constexpr double ThresholdDb = 16;
    // A chirp's echoes, and its likeness at the other rates, lie within this of it.
    static constexpr double OneChirpMs = 60;

private:
    // A rate's tone through the passband, conjugated: the correlation's template.
    struct Tone
    {
        double rateKhzPerS = 0;
        qsizetype fromSample = 0; // after the arrival, where the tone enters the passband
        std::vector<std::complex<float>> samples;
    };

    // How far a detector's block begins before the first arrival it searches, in samples.
    qsizetype leadOf(const ChirpDetector &detector) const;
    // The rate whose tone the audio around a chirp found matches best, where and how well.
    Hit heardBest(std::span<const float> block, const Hit &found, const QList<Hit> &chirps) const;

    int m_sampleRate = 0;
    bool m_iq = false;
    bool m_wide = false; // the detectors' own SNRs pick the rate
    qsizetype m_leadSamples = 0;
    QList<double> m_rates;
    std::vector<std::unique_ptr<ChirpDetector>> m_detectors;
    std::vector<Tone> m_tones;
    qsizetype m_blockSamples = 0;
    qsizetype m_stepSamples = 0;
};

} // namespace Listen
