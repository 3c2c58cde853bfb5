// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <complex>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <utility>
#include <vector>

// What a receiver hears from chirp sounders over a simple ionosphere: the model behind
// rigsim --audio. Times are nanoseconds since the epoch by the system clock.
namespace Sky {

inline constexpr int SampleRate = 48'000; // the default; a receiver may render at any of
inline constexpr std::array<int, 3> SampleRates{48'000, 96'000, 192'000};
// I/Q passes offsets up to this share of the rate each side of the dial (a sound card's
// anti-alias filter); a real passband reaches no higher either.
inline constexpr double IqBandShare = 0.45;

// The time of sample n after sample 0 at rateHz (one of SampleRates), in nanoseconds
// (rounded down: 1e9 / 48000 = 62500 / 3).
qint64 sampleNs(qint64 n, int rateHz);
// The first sample at or after ns (ns >= 0) at rateHz.
qint64 firstSampleAt(qint64 ns, int rateHz);
inline constexpr double SweepEndHz = 30.1e6; // every sweep starts at 0 Hz and stops here

// When a sounder sweeps, and how fast.
struct Sounder
{
    qint64 periodNs = 300'000'000'000;
    qint64 chirptimeNs = 78'000'000'000; // from the period's start to the sweep's 0 Hz
    bool local = false;                  // periods from local midnight; UTC midnight otherwise
    double sweepHzPerS = 100e3;
};

// The sounders rigsim accepts: periods of 1 s to a day, rates of 1 to 1000 kHz/s.
inline constexpr double MaxPeriodS = 86'400;
inline constexpr double MinRateKHzPerS = 1, MaxRateKHzPerS = 1000;

// A sounder in UTC from its period, chirptime (both s) and rate (kHz/s); none when one is out
// of range or the chirptime is not below the period.
std::optional<Sounder> makeSounder(double periodS, double chirptimeS, double rateKHzPerS);

// A sounder written PERIOD:CHIRPTIME[:RATE] (s, s, kHz/s; decimals with "."; rate 100 when
// left out), as makeSounder takes it; none when the text is not one.
std::optional<Sounder> sounderFromText(const QString &text);

// "PERIOD:CHIRPTIME at RATE kHz/s", with the decimals a user would write.
QString sounderText(const Sounder &sounder);

// The sky's modes: one hop off the E layer, one and two hops off the F2 layer (ordinary
// wave), and one hop of the F2 layer's extraordinary wave.
enum class Mode { E, F2, TwoHopF2, X };
inline constexpr size_t ModeCount = 4;

// A mode's name as an ionogram writes it: "E", "F2", "2F2", "X".
QString modeName(Mode mode);

// A parabolic layer: its critical frequency, the height of its peak and its half-thickness
// (its base is at hmKm - ymKm).
struct Layer
{
    double foHz = 0;
    double hmKm = 0;
    double ymKm = 0;
};

// F2's critical frequency over the day: from nightHz at midnight UTC to dayHz at noon along a
// cosine, a day lasting dayMinutes (1440: in real time).
struct DayCourse
{
    double nightHz = 5e6;
    double dayHz = 10e6;
    double dayMinutes = 1440;
};

// The ionosphere over a path of pathKm on a spherical earth: each mode's level (dB over the
// SNR's reference; none: not heard), the X trace offsetHz above the F2 one's, and no echo at
// all in the gaps (RF low and high, Hz) where the sounder does not transmit. Echoes fade as
// (f / luf)^2 below the lowest usable frequency.
struct Ionosphere
{
    double pathKm = 1500;
    Layer f2{10e6, 300, 100};
    std::optional<Layer> e = Layer{3e6, 110, 20}; // none: no E layer
    std::optional<DayCourse> f2Day;               // none: F2's own critical frequency
    double xOffsetHz = 0.7e6;
    std::array<std::optional<double>, ModeCount> levelsDb{-3.0, 0.0, -6.0, -3.0};
    double lufHz = 3e6;
    std::vector<std::pair<double, double>> gapsHz;
};

inline constexpr double EarthRadiusKm = 6371;
inline constexpr double LightKmPerS = 299'792.458;

// A ray off a thin mirror mirrorKm above the middle of a path of pathKm (spherical earth): the
// sine of its incidence at the mirror, its group path, and its elevation at the ground.
struct ObliqueRay
{
    double sinIncidence = 0;
    double groupPathKm = 0;
    double elevationRad = 0;
};
ObliqueRay obliqueRay(double mirrorKm, double pathKm);

// The group (virtual) height of a parabolic layer at vertical incidence, for fHz below its
// critical frequency; none at or above it.
std::optional<double> groupHeightKm(const Layer &layer, double fHz);

// F2's critical frequency at atNs (ns since the epoch).
double f2CriticalHz(const Ionosphere &sky, qint64 atNs);

// One path the signal comes back by: its mode, which ray (the high one above the nose's
// delay), its group delay, and its amplitude (a mode at 0 dB well above the LUF is 1).
struct Echo
{
    Mode mode = Mode::F2;
    bool highRay = false;
    double delayS = 0;
    double amplitude = 0;
};

// Every echo at an RF frequency at atNs, by mode, the low ray before the high one.
std::vector<Echo> echoesAt(const Ionosphere &sky, double rfHz, qint64 atNs);

// A mode's maximum usable frequency at atNs (its nose); none when it is not heard at all.
std::optional<double> mufHz(const Ionosphere &sky, Mode mode, qint64 atNs);

// Each mode's oblique trace at one F2 critical frequency: the oblique frequency and the delay
// at each vertical frequency sampled, NaN where the ground hides the mirror (the X mode's is
// the F2 one's, moved).
struct Trace
{
    std::vector<double> fHz, delayS;
};
using Traces = std::array<Trace, ModeCount>;
Traces tracesAt(const Ionosphere &sky, double foF2Hz);

// echoesAt with the traces at hand.
std::vector<Echo> echoesOn(const Traces &traces, const Ionosphere &sky, double rfHz);

// A sweep's steps: the dial every StepHz, heard at the passband's centre (dial + 1500 Hz).
inline constexpr double StepHz = 100e3;
inline constexpr double StepCentreHz = 1500;
inline constexpr double LastStepHz = 30e6;

// A mode's maximum observed frequency at atNs: the highest step (its dial, Hz) at whose
// passband centre the mode is heard; none when no step hears it.
std::optional<double> mofHz(const Ionosphere &sky, Mode mode, qint64 atNs);

// What a sweep of the sounder that started at startNs meets: the echoes at each step, when
// the sweep passes its passband's centre, and each mode's MOF over those steps.
struct StepTruth
{
    double dialHz = 0;
    qint64 atNs = 0;
    std::vector<Echo> echoes;
};
struct SweepTruth
{
    std::vector<StepTruth> steps; // every step from StepHz to LastStepHz
    std::array<std::optional<double>, ModeCount> mofHz;
};
SweepTruth sweepTruth(const Ionosphere &sky, const Sounder &sounder, qint64 startNs);

// The sounder's gaps written as MHz ranges joined by commas ("4.0-4.5,10.0-10.2"), in Hz;
// none when the text is not one (0 to 100 MHz, low below high).
std::optional<std::vector<std::pair<double, double>>> gapsFromText(const QString &text);

// The receiver's passband for a filter whose edges (half amplitude) are lowHz and highHz: 1
// between them less 100 Hz each side, raised-cosine edges 200 Hz wide.
double passbandGain(double audioHz, double lowHz = 300, double highHz = 2700);

// The start (0 Hz) of the latest sweep that began at or before atNs.
qint64 chirpStartNs(qint64 atNs, const Sounder &sounder);

// Which sideband the receiver hears: audio = RF - dial in the upper, dial - RF in the lower.
enum class Sideband { Upper, Lower };

// A steady carrier: levelDb over the noise's power in 300-2700 Hz, at audioHz, heard at the
// dials in dialRangesHz (low and high, both included; empty: every dial).
struct Carrier
{
    double levelDb = 20;
    double audioHz = 1000;
    std::vector<std::pair<double, double>> dialRangesHz;
};

// The broadcast bands in MHz, for a carrier heard on them.
inline constexpr std::array<std::pair<double, double>, 9> BroadcastBandsMHz{{{5.9, 6.2},
                                                                             {7.2, 7.45},
                                                                             {9.4, 9.9},
                                                                             {11.6, 12.1},
                                                                             {13.57, 13.87},
                                                                             {15.1, 15.8},
                                                                             {17.48, 17.9},
                                                                             {21.45, 21.85},
                                                                             {25.67, 26.1}}};

// A carrier written DB:HZ[:DIALS], DIALS being "broadcast" or MHz and MHz ranges joined by
// commas ("7.0,9.4-9.9"); none when the text is not one (-50 to 100 dB, 0 to 6000 Hz).
std::optional<Carrier> carrierFromText(const QString &text);

// Static crashes at random times, perS a second on average: each a burst of noise that
// starts levelDb over the noise's power in 300-2700 Hz and falls 40 dB in lengthS, when it
// ends. Off with a rate of 0.
struct Crashes
{
    double perS = 0;
    double levelDb = 30;
    double lengthS = 0.002;
};

// The automatic gain control: its level follows the audio's envelope up with the attack's
// and down with the decay's time constant; the gain holds an envelope over 20 dB above the
// noise's rms at a quarter of full scale (-12 dBFS), with room for the overshoot of a burst
// faster than the attack.
struct Agc
{
    double attackS = 0.001;
    double decayS = 0.2;
};

// The receiver: its sample rate and form (the sideband's real audio through its filter, or
// complex baseband around the dial), its filter's edges (half amplitude, Hz; real audio
// only), sideband, AGC, and how a retune lands: latencyS after the command, then the audio
// muted for muteS. The defaults are an ideal 48 kHz USB receiver.
//
// I/Q is what a software radio gives: left I, right Q, an echo at RF f heard at f - dial (below
// the dial: negative) up to IqBandShare of the rate each side, a carrier at +audioHz in USB
// and -audioHz in LSB (where the sideband hears it at audioHz). Its noise has the same
// density per Hz as the real audio's, and a chirp or a carrier the same power, so a level
// over the noise in 300-2700 Hz means the same C/N0 in either form: with the 300-2700 Hz
// filter's noise bandwidth of 2463 Hz (a fourth-order Butterworth band: 2400 x 1.026), an SNR
// of 10 dB is a C/N0 of 43.9 dB-Hz. Faults a receiver makes: I and Q swapped (every offset
// mirrored), the Q channel silent.
struct Receiver
{
    int rateHz = SampleRate;
    bool iq = false;
    bool iqSwapped = false, iqSilentQ = false;
    double lowHz = 300, highHz = 2700;
    Sideband sideband = Sideband::Upper;
    std::optional<Agc> agc;
    std::vector<Carrier> carriers;
    Crashes crashes;
    double latencyS = 0, muteS = 0;
};

// The audio itself, block by block, with its noise's state.
class SkyAudio
{
public:
    // Every sounder comes back by the same echoes. snrDb: the power of one sounder's chirp by
    // an echo at 0 dB (F2's one hop by default) in the passband over the noise's power in
    // 300-2700 Hz (the filter shapes the noise).
    SkyAudio(std::vector<Sounder> sounders,
             const Ionosphere &sky,
             double snrDb,
             quint64 seed = 1,
             Receiver receiver = {});

    // Fills out with the samples for startNs + i / rateHz() seconds, the receiver's dial at
    // dialHz (none: noise only) from the first sample; in I/Q, frames of two samples (I, Q).
    // Without AGC, carriers or crashes, nothing clips, even with every sounder's echoes at
    // once.
    void render(qint64 startNs, std::optional<qint64> dialHz, std::span<qint16> out);
    // The same with the dial as the retunes leave it.
    void render(qint64 startNs, std::span<qint16> out);

    // A frequency command at commandNs: the dial moves the receiver's latency later, then the
    // audio is muted for its mute. Commands come in the order of their times.
    void retune(qint64 commandNs, qint64 dialHz);

    // The sideband from the next sample on.
    void setSideband(Sideband sideband) { m_receiver.sideband = sideband; }
    Sideband sideband() const { return m_receiver.sideband; }
    int rateHz() const { return m_receiver.rateHz; }
    int channels() const { return m_receiver.iq ? 2 : 1; }

private:
    // One second-order section of the noise's band filter (direct form I).
    struct Biquad
    {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double step(double x);
    };
    // One second-order allpass section in z^-2, of a pair of chains 90 degrees apart.
    struct Allpass
    {
        double c2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double step(double x);
    };
    struct Retune
    {
        qint64 atNs = 0; // when the dial moves
        qint64 dialHz = 0;
    };

    // The sigma of a crash's white noise at this sample (0: none), the crashes' clock moved on.
    double crashSigma();
    // The band filter's next output for the white noise and a crash's share of it.
    double bandNoise();
    // The same for I/Q: complex, through the anti-alias filter.
    std::complex<double> iqNoise();
    // The echoes at rfHz at startNs, the traces drawn again when F2 has moved.
    std::vector<Echo> echoesNow(qint64 startNs, double rfHz);
    // Renders startNs onwards with the dial fixed (none: noise only).
    void renderStretch(qint64 startNs, std::optional<qint64> dialHz, std::span<double> block);
    void renderIqStretch(qint64 startNs,
                         std::optional<qint64> dialHz,
                         std::span<std::complex<double>> block);
    // Adds a sounder's chirp as one echo carries it to the samples in block.
    void addEcho(std::span<double> block,
                 qint64 startNs,
                 double dialHz,
                 const Sounder &sounder,
                 const Echo &echo) const;
    // The same for I/Q: the chirp at its offset from the dial.
    void addIqEcho(std::span<std::complex<double>> block,
                   qint64 startNs,
                   double dialHz,
                   const Sounder &sounder,
                   const Echo &echo) const;
    // The AGC's gain for the envelope now (it follows it); whether the sample `sample` of a
    // block from startNs falls in the mute after a retune.
    double agcGain(double envelope, double knee);
    bool muted(qint64 startNs, size_t sample) const;
    // The AGC, the mute and the 16-bit samples.
    void finish(qint64 startNs, std::span<const double> block, std::span<qint16> out);
    // The same for I/Q, with the receiver's faults, into frames of I and Q.
    void
    finishIq(qint64 startNs, std::span<const std::complex<double>> block, std::span<qint16> out);

    std::vector<Sounder> m_sounders;
    Ionosphere m_sky;
    Traces m_traces; // at m_tracesFoHz, F2's critical frequency when they were last drawn
    double m_tracesFoHz = -1;
    Receiver m_receiver;
    double m_chirpAmplitude = 0; // of a 0 dB echo, in sample units
    double m_whiteSigma = 0;     // of the noise before the band filter
    double m_noiseRms = 0;       // of the noise in 300-2700 Hz
    double m_iqNoiseRms = 0;     // of I/Q's noise, I and Q together, over its whole band
    std::array<Biquad, 4> m_band;
    std::array<Biquad, 4> m_alias; // I/Q's anti-alias low-pass: two for I, two for Q
    std::mt19937_64 m_random;
    std::normal_distribution<double> m_gauss;
    // Carriers: amplitude in sample units and phase (cycles) of each.
    std::vector<double> m_carrierAmplitudes, m_carrierPhases;
    // Crashes: a generator of their own, so that the noise stays as it is without them.
    std::mt19937_64 m_crashRandom;
    std::exponential_distribution<double> m_crashGap;
    std::normal_distribution<double> m_crashGauss;
    qint64 m_samplesToCrash = 0;
    double m_crashEnvelope = 0;             // in white sigmas of a crash's start; 0: none
    double m_crashFall = 1;                 // per sample
    double m_crashSigma = 0;                // white sigma at a crash's start
    std::array<Allpass, 8> m_quadrature;    // four for the in-phase, four for the quadrature
    double m_inPhase = 0;                   // the in-phase chain's last output (a sample's delay)
    double m_agcLevel = 0;                  // the envelope the AGC follows, in sample units
    double m_agcAttack = 0, m_agcDecay = 1; // per sample
    std::optional<qint64> m_dialHz;
    std::vector<Retune> m_retunes; // still to come
    qint64 m_muteFromNs = std::numeric_limits<qint64>::min();
    qint64 m_muteUntilNs = std::numeric_limits<qint64>::min();
    std::vector<double> m_block;
    std::vector<std::complex<double>> m_iqBlock;
};

} // namespace Sky
