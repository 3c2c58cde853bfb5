// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QMetaType>

#include <algorithm>

#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace Listen {

// Most chirps rise 100 kHz per second: 100 Hz in every millisecond.
inline constexpr double ChirpHzPerMs = 100.0;

struct DetectorSettings
{
    static constexpr double NarrowSearchMs = 40;
    static constexpr double NarrowBandHz = 2400;

    int sampleRate = 48000;
    double hzPerMs = ChirpHzPerMs; // the chirp's rate: kHz per second are Hz per ms
    // The input is I/Q centred on the dial (blocks hold I and Q in turn), not the upper
    // sideband's audio.
    bool iq = false;
    bool iqSwapped = false; // the input gives Q first (the capture puts it right)
    // The receiver's passband, from the dial (negative below it with I/Q); not a number: the
    // input's whole band (with I/Q 0.45 of the rate either side, within its filters).
    double lowHz = 300;
    double highHz = 2700;
    // The dial holds a step at most from this long before the chirp's expected arrival to this
    // long after (ms): the chirp is heard only through the part of the passband it crosses
    // then.
    double dialFromMs = -std::numeric_limits<double>::infinity();
    double dialToMs = std::numeric_limits<double>::infinity();
    double searchFromMs = -50; // delays searched for echoes, around the expected arrival
    double searchToMs = 300;
    // The block begins this long before the expected arrival (a negative delay): the audio
    // over which the spectrum, the level and the noise are measured, with the searched delays.
    // A chirp heard for 100 ms or more (a wide band) needs only its own crossing.
    double blockFromMs = -350;
    // An echo stands this far over the noise of the correlation, in a search up to
    // NarrowSearchMs wide through a band up to NarrowBandHz wide; a wider search or band
    // raises it as much as keeps noise from adding false echoes.
    double thresholdDb = 13.5;
    int maxEchoes = 8;
    double profileFromMs = 0; // the delays drawn, in profileBins equal bins
    double profileToMs = 40;
    int profileBins = 400;
};

struct Echo
{
    double delayMs = 0; // after the expected arrival
    double snrDb = 0;   // the correlation's peak over its noise (2E/N0)
};

struct Detection
{
    QList<Echo> echoes;     // over the threshold, strongest first
    double peakDb = 0;      // the strongest peak searched, echo or noise
    QList<float> profileDb; // the strongest correlation in each profile bin, over the noise
    // The chirp came as a falling tone, as the lower sideband hears it: no echo is reported.
    bool lowerSideband = false;
    double lowerSidebandDb = 0; // the falling tone's strongest peak searched, over its noise
};

// Finds the chirp's echoes in a block of audio by correlating it with the tone the chirp
// makes in the passband (a matched filter, through FFTs), after whitening the block's spectrum
// (carriers notched), blanking its impulses (static crashes) and evening out its level (the
// receiver's AGC); the noise is the median of the correlation over the block's delays. The
// falling tone of the lower sideband is correlated too.
class ChirpDetector
{
public:
    explicit ChirpDetector(const DetectorSettings &settings = {});
    ~ChirpDetector();
    ChirpDetector(const ChirpDetector &) = delete;
    ChirpDetector &operator=(const ChirpDetector &) = delete;

    const DetectorSettings &settings() const { return m_settings; }
    // Samples in a block (I/Q pairs with I/Q), and how far (ms) before the expected arrival
    // it must begin.
    qsizetype blockSamples() const { return m_blockSamples; }
    double blockLeadMs() const { return m_leadMs; }
    // The part of the passband the chirp can be heard in, in Hz from the dial, and the delay
    // resolution that gives (1 / its width, in ms).
    double heardLowHz() const { return m_lowHz; }
    double heardHighHz() const { return m_highHz; }
    double resolutionMs() const { return 1 / std::max(m_highHz - m_lowHz, 1.0) * 1000; }

    // Echoes in `block` (blockSamples() long, twice that with I/Q); the expected arrival of the
    // chirp at the dial frequency (0 Hz of audio) lies `arrivalSample` samples after the block's
    // start. The dial held this step from `dialFromSample` to `dialToSample` (samples from the
    // block's start); audio outside that is another step's and is neither noise nor echo.
    Detection detect(std::span<const float> block,
                     double arrivalSample,
                     double dialFromSample = -std::numeric_limits<double>::infinity(),
                     double dialToSample = std::numeric_limits<double>::infinity()) const;

private:
    struct Plans;

    DetectorSettings m_settings;
    qsizetype m_blockSamples = 0;
    qsizetype m_outputSamples = 0;
    qsizetype m_firstBin = 0; // negative below the dial with I/Q
    double m_lowHz = 0;
    double m_highHz = 0;
    double m_leadMs = 0;
    double m_toneFromMs = 0; // the tone's start, from the chirp's arrival at the dial
    double m_toneMs = 0;
    bool m_longCrossing = false; // the chirp crosses the band in 100 ms or more
    double m_thresholdRatio = 0;
    // The conjugated spectra of the rising tone and of the falling one, over the band.
    std::vector<float> m_risingRe;
    std::vector<float> m_risingIm;
    std::vector<float> m_fallingRe;
    std::vector<float> m_fallingIm;
    std::unique_ptr<Plans> m_plans;
};

// The passband `settings` give, in Hz from the dial: the input's whole band where they give
// none.
std::pair<double, double> passbandOf(const DetectorSettings &settings);

// Asks the C library to keep the detector's large buffers between steps instead of giving
// them back to the system (glibc's allocator; nothing elsewhere), so that a wide band's steps
// do not spend their time on fresh pages. Once, at the program's start.
void keepLargeBuffers();

} // namespace Listen

Q_DECLARE_METATYPE(Listen::Detection)
