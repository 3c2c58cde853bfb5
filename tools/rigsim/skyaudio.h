// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>
#include <random>
#include <span>
#include <vector>

// What a USB receiver hears from chirp sounders over a simple ionosphere: the model behind
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

// The receiver's passband: 1 from 400 Hz to 2600 Hz, raised-cosine edges down to 0 at 200 Hz
// and 2800 Hz (half amplitude at 300 Hz and 2700 Hz).
double passbandGain(double audioHz);

// The start (0 Hz) of the latest sweep that began at or before atNs.
qint64 chirpStartNs(qint64 atNs, const Sounder &sounder);

// The audio itself, block by block, with its noise's state.
class SkyAudio
{
public:
    // Every sounder comes back by the same echoes. snrDb: one sounder's one-hop chirp's power
    // in the passband over the noise's power there.
    SkyAudio(std::vector<Sounder> sounders, const Ionosphere &sky, double snrDb, quint64 seed = 1);

    // Fills out with the samples for startNs + i / SampleRate seconds, the receiver's dial at
    // dialHz (none: noise only). Nothing clips, even with every sounder's echoes at once.
    void render(qint64 startNs, std::optional<qint64> dialHz, std::span<qint16> out);

private:
    // One second-order section of the noise's band filter (direct form I).
    struct Biquad
    {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        double step(double x);
    };

    double bandNoise();
    // Adds a sounder's chirp as one echo carries it to the samples in block.
    void addEcho(std::span<double> block,
                 qint64 startNs,
                 double dialHz,
                 const Sounder &sounder,
                 const Echo &echo) const;

    std::vector<Sounder> m_sounders;
    Ionosphere m_sky;
    double m_chirpAmplitude = 0; // of one sounder's one-hop echo, in sample units
    double m_whiteSigma = 0;     // of the noise before the band filter
    std::array<Biquad, 4> m_band;
    std::mt19937_64 m_random;
    std::normal_distribution<double> m_gauss;
};

} // namespace Sky
