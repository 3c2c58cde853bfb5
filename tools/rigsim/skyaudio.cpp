// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "skyaudio.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace Sky {
namespace {

constexpr double EdgeLowHz = 200, PassLowHz = 400, PassHighHz = 2600, EdgeHighHz = 2800;
constexpr double DelayGrowth = 3;     // the delay stops growing at three times its base
constexpr double PeakShare = 0.89;    // of full scale, for the chirps and six noise sigmas
constexpr double NoiseSigmas = 6;     // filtered noise beyond this is rarer than 1 in 10^8
constexpr double BandCentreHz = 1500; // the echoes' delay and strength are taken here

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The midnight that begins the day of atNs, in UTC or local time.
qint64 dayStartNs(qint64 atNs, bool local)
{
    constexpr qint64 DayNs = 86'400'000'000'000;
    if (!local)
        return floorDiv(atNs, DayNs) * DayNs;
    const QDate day = QDateTime::fromMSecsSinceEpoch(floorDiv(atNs, 1'000'000)).date();
    return day.startOfDay().toMSecsSinceEpoch() * 1'000'000;
}

// One echo: nothing at or above its MUF, its delay growing towards the MUF.
std::optional<Echo>
hop(double rfHz, double mufHz, double baseDelayS, double amplitude, double lufHz)
{
    if (rfHz >= mufHz)
        return std::nullopt;
    const double ratio = rfHz / mufHz;
    const double fade = rfHz < lufHz ? (rfHz / lufHz) * (rfHz / lufHz) : 1.0;
    return Echo{std::min(baseDelayS / std::sqrt(1 - ratio * ratio), DelayGrowth * baseDelayS),
                amplitude * fade};
}

} // namespace

std::optional<Sounder> makeSounder(double periodS, double chirptimeS, double rateKHzPerS)
{
    // Written so that NaN, which fails every comparison, is refused too.
    if (!(periodS >= 1 && periodS <= MaxPeriodS) || !(chirptimeS >= 0 && chirptimeS < periodS)
        || !(rateKHzPerS >= MinRateKHzPerS && rateKHzPerS <= MaxRateKHzPerS))
        return std::nullopt;
    const Sounder sounder{
        std::llround(periodS * 1e9), std::llround(chirptimeS * 1e9), false, rateKHzPerS * 1e3};
    // A chirptime a fraction of a nanosecond below the period rounds up to it.
    if (sounder.chirptimeNs >= sounder.periodNs)
        return std::nullopt;
    return sounder;
}

std::optional<Sounder> sounderFromText(const QString &text)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    double values[3] = {0, 0, 100};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        values[i] = parts[i].toDouble(&ok);
        if (!ok)
            return std::nullopt;
    }
    return makeSounder(values[0], values[1], values[2]);
}

QString sounderText(const Sounder &sounder)
{
    // Fifteen digits give back the decimals a user writes, without the binary's residue.
    const auto number = [](double value) {
        return QString::number(value, 'g', 15);
    };
    return QStringLiteral("%1:%2 at %3 kHz/s")
        .arg(number(double(sounder.periodNs) / 1e9),
             number(double(sounder.chirptimeNs) / 1e9),
             number(sounder.sweepHzPerS / 1e3));
}

std::array<std::optional<Echo>, 2> echoesAt(const Ionosphere &sky, double rfHz)
{
    return {
        hop(rfHz, sky.mufHz, sky.delayS, 1.0, sky.lufHz),
        hop(rfHz, sky.twoHopMufHz, 2 * sky.delayS, std::pow(10.0, -sky.twoHopDb / 20), sky.lufHz)};
}

double passbandGain(double audioHz)
{
    const double edgeHz = PassLowHz - EdgeLowHz;
    double into = 0; // how far into an edge, 0 to 1
    if (audioHz <= EdgeLowHz || audioHz >= EdgeHighHz)
        return 0;
    if (audioHz < PassLowHz)
        into = (audioHz - EdgeLowHz) / edgeHz;
    else if (audioHz > PassHighHz)
        into = (EdgeHighHz - audioHz) / edgeHz;
    else
        return 1;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * into);
}

qint64 chirpStartNs(qint64 atNs, const Sounder &sounder)
{
    const qint64 day = dayStartNs(atNs, sounder.local);
    const qint64 sinceMidnight = atNs - day;
    if (sinceMidnight >= sounder.chirptimeNs)
        return day
               + floorDiv(sinceMidnight - sounder.chirptimeNs, sounder.periodNs) * sounder.periodNs
               + sounder.chirptimeNs;
    // The sweep under way began in the last period of the day before, which may be cut short.
    const qint64 previous = dayStartNs(day - 1, sounder.local);
    qint64 start = previous + (day - previous - 1) / sounder.periodNs * sounder.periodNs
                   + sounder.chirptimeNs;
    while (start > atNs)
        start -= sounder.periodNs;
    return start;
}

double SkyAudio::Biquad::step(double x)
{
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

SkyAudio::SkyAudio(std::vector<Sounder> sounders, const Ionosphere &sky, double snrDb, quint64 seed)
    : m_sounders(std::move(sounders))
    , m_sky(sky)
    , m_random(seed)
{
    // Fourth-order Butterworth high-pass at 300 Hz and low-pass at 2700 Hz, two sections each.
    const double qs[] = {0.54119610, 1.30656296};
    for (int i = 0; i < 4; ++i) {
        const bool high = i < 2;
        const double w = 2 * std::numbers::pi * (high ? 300.0 : 2700.0) / SampleRate;
        const double alpha = std::sin(w) / (2 * qs[i % 2]);
        const double c = std::cos(w);
        const double a0 = 1 + alpha;
        Biquad &b = m_band[size_t(i)];
        b.b0 = (high ? (1 + c) / 2 : (1 - c) / 2) / a0;
        b.b1 = (high ? -(1 + c) : 1 - c) / a0;
        b.b2 = b.b0;
        b.a1 = -2 * c / a0;
        b.a2 = (1 - alpha) / a0;
    }
    // The filter's power gain for white noise: the energy of its impulse response.
    std::array<Biquad, 4> probe = m_band;
    double gain = 0;
    for (int n = 0; n < SampleRate; ++n) {
        double y = n == 0 ? 1.0 : 0.0;
        for (Biquad &b : probe)
            y = b.step(y);
        gain += y * y;
    }
    // The chirp's power is amplitude^2 / 2; the noise's is sigma^2 after the filter. The peak
    // allows for every sounder's two echoes in phase at once.
    const double noisePerAmplitude = std::sqrt(0.5) * std::pow(10.0, -snrDb / 20);
    const double twoHop = std::pow(10.0, -sky.twoHopDb / 20);
    const double count = double(std::max<size_t>(m_sounders.size(), 1));
    m_chirpAmplitude = PeakShare * 32767 / (count * (1 + twoHop) + NoiseSigmas * noisePerAmplitude);
    m_whiteSigma = m_chirpAmplitude * noisePerAmplitude / std::sqrt(gain);
}

double SkyAudio::bandNoise()
{
    double y = m_whiteSigma * m_gauss(m_random);
    for (Biquad &b : m_band)
        y = b.step(y);
    return y;
}

void SkyAudio::addEcho(std::span<double> block,
                       qint64 startNs,
                       double dialHz,
                       const Sounder &sounder,
                       const Echo &echo) const
{
    // The echo of the sweep crosses the dial leadS after the sweep's start; u is the time
    // since then, and the audio frequency is rate * u.
    const double rate = sounder.sweepHzPerS;
    const double leadS = dialHz / rate + echo.delayS;
    const qint64 leadNs = std::llround(leadS * 1e9);
    const qint64 lastNs = (qint64(block.size()) - 1) * 1'000'000'000 / SampleRate;
    const qint64 firstStart = chirpStartNs(startNs - leadNs, sounder);
    const qint64 lastStart = chirpStartNs(startNs + lastNs - leadNs, sounder);
    const double firstU = double(startNs - firstStart) * 1e-9 - leadS;
    const double lastU = double(startNs - lastStart) * 1e-9 - leadS;
    const double amplitude = m_chirpAmplitude * echo.amplitude;
    for (size_t i = 0; i < block.size(); ++i) {
        const double sinceStart = double(i) / SampleRate;
        double u = firstU + sinceStart;
        if (lastStart != firstStart && lastU + sinceStart >= 0)
            u = lastU + sinceStart; // a new sweep began within the block
        const double audioHz = rate * u;
        if (audioHz <= EdgeLowHz || audioHz >= EdgeHighHz)
            continue;
        // Phase 2 pi (rate u^2 / 2): the RF chirp's phase mixed down by the dial, less a
        // constant.
        block[i] += amplitude * passbandGain(audioHz) * std::sin(std::numbers::pi * rate * u * u);
    }
}

void SkyAudio::render(qint64 startNs, std::optional<qint64> dialHz, std::span<qint16> out)
{
    std::vector<double> block(out.size());
    for (double &sample : block)
        sample = bandNoise();
    // Only a dial whose whole passband the sweep covers hears it: no passage is cut short.
    if (dialHz && *dialHz >= 0 && double(*dialHz) + EdgeHighHz <= SweepEndHz) {
        const double dial = double(*dialHz);
        for (const auto &echo : echoesAt(m_sky, dial + BandCentreHz)) {
            if (!echo)
                continue;
            for (const Sounder &sounder : m_sounders)
                addEcho(block, startNs, dial, sounder, *echo);
        }
    }
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = qint16(std::lround(std::clamp(block[i], -32767.0, 32767.0)));
}

} // namespace Sky
