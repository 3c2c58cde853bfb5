// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <limits>
#include <optional>
#include <random>
#include <span>
#include <utility>
#include <vector>

// What a receiver hears from chirp sounders over a simple ionosphere: the model behind
// rigsim --audio. Times are nanoseconds since the epoch by the system clock.
namespace Sky {

inline constexpr int SampleRate = 48'000;
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

// A one-hop echo whose group delay grows towards its maximum usable frequency, and a weaker
// two-hop echo with a lower MUF and twice the delay; both fade below the lowest usable
// frequency.
struct Ionosphere
{
    double mufHz = 14e6;
    double delayS = 0.004; // one hop, well below the MUF
    double twoHopMufHz = 10e6;
    double twoHopDb = 6; // how much weaker two hops are than one
    double lufHz = 3e6;  // below it the amplitude falls as (f / luf)^2
};

// One path the signal comes back by: its group delay, and its amplitude (one hop well above
// the LUF is 1).
struct Echo
{
    double delayS = 0;
    double amplitude = 0;
};

// The one-hop and the two-hop echo at an RF frequency; none above its MUF. The delay
// base / sqrt(1 - (f / muf)^2) stops growing at three times its base.
std::array<std::optional<Echo>, 2> echoesAt(const Ionosphere &sky, double rfHz);

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

// The receiver: its filter's edges (half amplitude, Hz), sideband, AGC, and how a retune
// lands: latencyS after the command, then the audio muted for muteS. The defaults are an
// ideal USB receiver.
struct Receiver
{
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
    // Every sounder comes back by the same echoes. snrDb: one sounder's one-hop chirp's power
    // in the passband over the noise's power in 300-2700 Hz (the filter shapes the noise).
    SkyAudio(std::vector<Sounder> sounders,
             const Ionosphere &sky,
             double snrDb,
             quint64 seed = 1,
             Receiver receiver = {});

    // Fills out with the samples for startNs + i / SampleRate seconds, the receiver's dial at
    // dialHz (none: noise only) from the first sample. Without AGC, carriers or crashes,
    // nothing clips, even with every sounder's echoes at once.
    void render(qint64 startNs, std::optional<qint64> dialHz, std::span<qint16> out);
    // The same with the dial as the retunes leave it.
    void render(qint64 startNs, std::span<qint16> out);

    // A frequency command at commandNs: the dial moves the receiver's latency later, then the
    // audio is muted for its mute. Commands come in the order of their times.
    void retune(qint64 commandNs, qint64 dialHz);

    // The sideband from the next sample on.
    void setSideband(Sideband sideband) { m_receiver.sideband = sideband; }
    Sideband sideband() const { return m_receiver.sideband; }

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

    // The band filter's next output for the white noise and a crash's share of it.
    double bandNoise();
    // Renders startNs onwards with the dial fixed (none: noise only).
    void renderStretch(qint64 startNs, std::optional<qint64> dialHz, std::span<double> block);
    // Adds a sounder's chirp as one echo carries it to the samples in block.
    void addEcho(std::span<double> block,
                 qint64 startNs,
                 double dialHz,
                 const Sounder &sounder,
                 const Echo &echo) const;
    // The AGC, the mute and the 16-bit samples.
    void finish(qint64 startNs, std::span<const double> block, std::span<qint16> out);

    std::vector<Sounder> m_sounders;
    Ionosphere m_sky;
    Receiver m_receiver;
    double m_chirpAmplitude = 0; // of one sounder's one-hop echo, in sample units
    double m_whiteSigma = 0;     // of the noise before the band filter
    double m_noiseRms = 0;       // of the noise in 300-2700 Hz
    std::array<Biquad, 4> m_band;
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
};

} // namespace Sky
