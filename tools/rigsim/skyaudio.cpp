// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "skyaudio.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <utility>
#include <vector>

namespace Sky {
namespace {

// A sample of the 16-bit output, kept off full scale's negative end.
qint16 toSample(double y)
{
    return qint16(std::lround(std::clamp(y, -32767.0, 32767.0)));
}

constexpr double EdgeHz = 100;      // a filter's raised-cosine edge runs this far each side
constexpr double PeakShare = 0.89;  // of full scale, for the chirps and six noise sigmas
constexpr double NoiseSigmas = 6;   // filtered noise beyond this is rarer than 1 in 10^8
constexpr double CrashSigmas = 4;   // a crash's noise beyond this is rare in its few ms
constexpr double AgcKnee = 10;      // the AGC acts on audio over this many noise rms (20 dB)
constexpr double AgcOutput = 8'192; // and holds it here (-12 dBFS), in sample units
constexpr double CrashEnd = 0.01;   // a crash ends 40 dB down

// A sample's length in nanoseconds as a fraction in lowest terms: 62500 / 3 at 48 kHz.
std::pair<qint64, qint64> sampleFraction(int rateHz)
{
    const qint64 g = std::gcd(qint64(1'000'000'000), qint64(rateHz));
    return {1'000'000'000 / g, rateHz / g};
}

// The gain of a raised-cosine edge from 0 at edgeHz to 1 at passHz (either way round).
double edgeGain(double hz, double edgeHz, double passHz)
{
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (hz - edgeHz) / (passHz - edgeHz));
}

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

constexpr int TraceSamples = 2000;    // vertical frequencies a trace is drawn at
constexpr double TraceClosest = 1e-5; // the last one this far below the critical frequency

double fadeBelowLuf(const Ionosphere &sky, double rfHz)
{
    return rfHz < sky.lufHz ? (rfHz / sky.lufHz) * (rfHz / sky.lufHz) : 1.0;
}

// The extra group path through the whole of a parabolic layer below a wave of fHz over its
// critical frequency: ym (f / fc) ln((f + fc) / (f - fc)) less its thickness 2 ym.
double retardationKm(const Layer &layer, double fHz)
{
    const double r = layer.foHz / fHz;
    return layer.ymKm / r * std::log((1 + r) / (1 - r)) - 2 * layer.ymKm;
}

// The oblique trace of a layer over hops hops of the path, vertical frequencies from above
// lowestHz to just under the layer's critical frequency, dense near it where the height
// climbs; below is the layer under it, whose retardation the trace carries (none: free space).
Trace trace(
    const Layer &layer, const std::optional<Layer> &below, double lowestHz, double pathKm, int hops)
{
    Trace out;
    out.fHz.reserve(TraceSamples);
    out.delayS.reserve(TraceSamples);
    const double ratio = std::pow(TraceClosest, 1.0 / (TraceSamples - 1));
    double gap = 1; // below the critical frequency, as its share
    for (int i = 0; i < TraceSamples; ++i, gap *= ratio) {
        const double fvHz = layer.foHz * (1 - gap);
        if (fvHz <= lowestHz)
            continue;
        double heightKm = *groupHeightKm(layer, fvHz);
        if (below)
            heightKm += retardationKm(*below, fvHz);
        const ObliqueRay ray = obliqueRay(heightKm, pathKm / hops);
        const bool seen = ray.elevationRad >= 0;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        out.fHz.push_back(seen ? fvHz / std::sqrt(1 - ray.sinIncidence * ray.sinIncidence) : nan);
        out.delayS.push_back(seen ? hops * ray.groupPathKm / LightKmPerS : nan);
    }
    return out;
}

double amplitudeOf(const Ionosphere &sky, Mode mode)
{
    const auto &level = sky.levelsDb[size_t(mode)];
    return level ? std::pow(10.0, *level / 20) : 0.0;
}

} // namespace

qint64 sampleNs(qint64 n, int rateHz)
{
    const auto [numerator, denominator] = sampleFraction(rateHz);
    return n * numerator / denominator;
}

qint64 firstSampleAt(qint64 ns, int rateHz)
{
    const auto [numerator, denominator] = sampleFraction(rateHz);
    return (ns * denominator + numerator - 1) / numerator;
}

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

QString modeName(Mode mode)
{
    switch (mode) {
    case Mode::E:
        return QStringLiteral("E");
    case Mode::F2:
        return QStringLiteral("F2");
    case Mode::TwoHopF2:
        return QStringLiteral("2F2");
    case Mode::X:
        return QStringLiteral("X");
    }
    return {};
}

ObliqueRay obliqueRay(double mirrorKm, double pathKm)
{
    const double theta = pathKm / (2 * EarthRadiusKm); // the mirror's angle from each end
    const double r = EarthRadiusKm, mirror = EarthRadiusKm + mirrorKm;
    const double halfKm = std::sqrt(r * r + mirror * mirror - 2 * r * mirror * std::cos(theta));
    const double sinIncidence = r * std::sin(theta) / halfKm;
    return {sinIncidence,
            2 * halfKm,
            std::numbers::pi / 2 - theta - std::asin(std::min(sinIncidence, 1.0))};
}

std::optional<double> groupHeightKm(const Layer &layer, double fHz)
{
    if (!(fHz >= 0 && fHz < layer.foHz))
        return std::nullopt;
    const double r = fHz / layer.foHz;
    return layer.hmKm - layer.ymKm + layer.ymKm / 2 * r * std::log((1 + r) / (1 - r));
}

double f2CriticalHz(const Ionosphere &sky, qint64 atNs)
{
    if (!sky.f2Day)
        return sky.f2.foHz;
    const DayCourse &day = *sky.f2Day;
    const auto dayNs = std::max<qint64>(1, std::llround(day.dayMinutes * 60e9));
    const double phase = double(atNs - floorDiv(atNs, dayNs) * dayNs) / double(dayNs);
    return day.nightHz
           + (day.dayHz - day.nightHz) * (1 - std::cos(2 * std::numbers::pi * phase)) / 2;
}

Traces tracesAt(const Ionosphere &sky, double foF2Hz)
{
    Traces traces;
    Layer f2 = sky.f2;
    f2.foHz = foF2Hz;
    if (sky.e)
        traces[size_t(Mode::E)] = trace(*sky.e, std::nullopt, 0, sky.pathKm, 1);
    // A wave whose vertical frequency the E layer reflects never reaches F2.
    const double lowestHz = sky.e ? sky.e->foHz : 0.0;
    traces[size_t(Mode::F2)] = trace(f2, sky.e, lowestHz, sky.pathKm, 1);
    traces[size_t(Mode::TwoHopF2)] = trace(f2, sky.e, lowestHz, sky.pathKm, 2);
    return traces;
}

std::vector<Echo> echoesOn(const Traces &traces, const Ionosphere &sky, double rfHz)
{
    std::vector<Echo> echoes;
    if (std::any_of(sky.gapsHz.begin(), sky.gapsHz.end(), [rfHz](auto gap) {
            return rfHz >= gap.first && rfHz <= gap.second;
        }))
        return echoes;
    const double fade = fadeBelowLuf(sky, rfHz);
    for (size_t m = 0; m < ModeCount; ++m) {
        const auto mode = Mode(m);
        const double amplitude = amplitudeOf(sky, mode) * fade;
        if (amplitude <= 0)
            continue;
        // The X trace is the F2 one moved up by its offset.
        const Trace &on = traces[mode == Mode::X ? size_t(Mode::F2) : m];
        const double f = mode == Mode::X ? rfHz - sky.xOffsetHz : rfHz;
        const size_t first = echoes.size();
        for (size_t i = 1; i < on.fHz.size(); ++i) {
            const double f0 = on.fHz[i - 1], f1 = on.fHz[i];
            // Where the trace crosses f (NaN, where the ground hides the mirror, fails both).
            if (!((f0 <= f && f < f1) || (f1 <= f && f < f0)))
                continue;
            const double share = (f - f0) / (f1 - f0);
            const double delayS = on.delayS[i - 1] + share * (on.delayS[i] - on.delayS[i - 1]);
            echoes.push_back({mode, false, delayS, amplitude});
        }
        // Past the first crossing the trace has turned at the nose: the high ray.
        for (size_t i = first + 1; i < echoes.size(); ++i)
            echoes[i].highRay = true;
    }
    return echoes;
}

std::vector<Echo> echoesAt(const Ionosphere &sky, double rfHz, qint64 atNs)
{
    return echoesOn(tracesAt(sky, f2CriticalHz(sky, atNs)), sky, rfHz);
}

std::optional<double> mufHz(const Ionosphere &sky, Mode mode, qint64 atNs)
{
    if (!sky.levelsDb[size_t(mode)])
        return std::nullopt;
    const Traces traces = tracesAt(sky, f2CriticalHz(sky, atNs));
    const Trace &on = traces[mode == Mode::X ? size_t(Mode::F2) : size_t(mode)];
    double highest = -1;
    for (const double f : on.fHz)
        if (f > highest) // NaN fails
            highest = f;
    if (highest < 0)
        return std::nullopt;
    return mode == Mode::X ? highest + sky.xOffsetHz : highest;
}

std::optional<double> mofHz(const Ionosphere &sky, Mode mode, qint64 atNs)
{
    const Traces traces = tracesAt(sky, f2CriticalHz(sky, atNs));
    for (auto step = qint64(LastStepHz / StepHz); step >= 1; --step) {
        const double dialHz = double(step) * StepHz;
        const auto echoes = echoesOn(traces, sky, dialHz + StepCentreHz);
        if (std::any_of(echoes.begin(), echoes.end(), [mode](const Echo &echo) {
                return echo.mode == mode;
            }))
            return dialHz;
    }
    return std::nullopt;
}

SweepTruth sweepTruth(const Ionosphere &sky, const Sounder &sounder, qint64 startNs)
{
    SweepTruth truth;
    Traces traces;
    double tracesFoHz = -1;
    for (auto step = qint64(1); step <= qint64(LastStepHz / StepHz); ++step) {
        StepTruth at;
        at.dialHz = double(step) * StepHz;
        at.atNs = startNs + std::llround((at.dialHz + StepCentreHz) / sounder.sweepHzPerS * 1e9);
        const double foHz = f2CriticalHz(sky, at.atNs);
        if (foHz != tracesFoHz) {
            traces = tracesAt(sky, foHz);
            tracesFoHz = foHz;
        }
        at.echoes = echoesOn(traces, sky, at.dialHz + StepCentreHz);
        for (const Echo &echo : at.echoes)
            truth.mofHz[size_t(echo.mode)] = at.dialHz;
        truth.steps.push_back(std::move(at));
    }
    return truth;
}

std::optional<std::vector<std::pair<double, double>>> gapsFromText(const QString &text)
{
    std::vector<std::pair<double, double>> gaps;
    for (const QString &item : text.split(u',')) {
        const QStringList ends = item.split(u'-');
        bool lowOk = false, highOk = false;
        const double low = ends.front().toDouble(&lowOk), high = ends.back().toDouble(&highOk);
        if (ends.size() != 2 || !lowOk || !highOk || !(low >= 0 && low < high && high <= 100))
            return std::nullopt;
        gaps.emplace_back(low * 1e6, high * 1e6);
    }
    return gaps;
}

double passbandGain(double audioHz, double lowHz, double highHz)
{
    const double edgeLow = lowHz - EdgeHz, passLow = lowHz + EdgeHz;
    const double passHigh = highHz - EdgeHz, edgeHigh = highHz + EdgeHz;
    const double edgeHz = passLow - edgeLow;
    double into = 0; // how far into an edge, 0 to 1
    if (audioHz <= edgeLow || audioHz >= edgeHigh)
        return 0;
    if (audioHz < passLow)
        into = (audioHz - edgeLow) / edgeHz;
    else if (audioHz > passHigh)
        into = (edgeHigh - audioHz) / edgeHz;
    else
        return 1;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * into);
}

std::optional<Carrier> carrierFromText(const QString &text)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    bool levelOk = false, hzOk = false;
    Carrier carrier{parts[0].toDouble(&levelOk), parts[1].toDouble(&hzOk), {}};
    if (!levelOk || !hzOk || !(carrier.levelDb >= -50 && carrier.levelDb <= 100)
        || !(carrier.audioHz > 0 && carrier.audioHz <= 6000))
        return std::nullopt;
    if (parts.size() < 3)
        return carrier;
    const auto mhzToHz = [](double mhz) {
        return double(std::llround(mhz * 1e6));
    };
    if (parts[2].compare(QStringLiteral("broadcast"), Qt::CaseInsensitive) == 0) {
        for (const auto &[low, high] : BroadcastBandsMHz)
            carrier.dialRangesHz.emplace_back(mhzToHz(low), mhzToHz(high));
        return carrier;
    }
    for (const QString &item : parts[2].split(u',')) {
        const QStringList ends = item.split(u'-');
        if (ends.size() > 2)
            return std::nullopt;
        bool lowOk = false, highOk = false;
        const double low = ends.front().toDouble(&lowOk), high = ends.back().toDouble(&highOk);
        if (!lowOk || !highOk || !(low >= 0 && low <= high && high <= 100))
            return std::nullopt;
        carrier.dialRangesHz.emplace_back(mhzToHz(low), mhzToHz(high));
    }
    return carrier;
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

double SkyAudio::Allpass::step(double x)
{
    const double y = c2 * (x + y2) - x2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

SkyAudio::SkyAudio(std::vector<Sounder> sounders,
                   const Ionosphere &sky,
                   double snrDb,
                   quint64 seed,
                   Receiver receiver)
    : m_sounders(std::move(sounders))
    , m_sky(sky)
    , m_receiver(std::move(receiver))
    , m_random(seed)
    , m_crashRandom(seed + 1)
    , m_crashGap(m_receiver.crashes.perS > 0 ? m_receiver.crashes.perS : 1.0)
{
    const double rateHz = m_receiver.rateHz;
    // Fourth-order Butterworth sections: high-pass at lowHz and low-pass at highHz, two each
    // (none at lowHz <= 0).
    const auto bandFilter = [rateHz](double lowHz, double highHz) {
        const double qs[] = {0.54119610, 1.30656296};
        std::array<Biquad, 4> band;
        for (int i = 0; i < 4; ++i) {
            const bool high = i < 2;
            if (high && lowHz <= 0)
                continue;
            const double w = 2 * std::numbers::pi * (high ? lowHz : highHz) / rateHz;
            const double alpha = std::sin(w) / (2 * qs[i % 2]);
            const double c = std::cos(w);
            const double a0 = 1 + alpha;
            Biquad &b = band[size_t(i)];
            b.b0 = (high ? (1 + c) / 2 : (1 - c) / 2) / a0;
            b.b1 = (high ? -(1 + c) : 1 - c) / a0;
            b.b2 = b.b0;
            b.a1 = -2 * c / a0;
            b.a2 = (1 - alpha) / a0;
        }
        return band;
    };
    // The power gain of a filter for white noise, the energy of its impulse response.
    const auto powerGain = [this](std::array<Biquad, 4> probe) {
        double gain = 0;
        for (int n = 0; n < m_receiver.rateHz; ++n) {
            double y = n == 0 ? 1.0 : 0.0;
            for (Biquad &b : probe)
                y = b.step(y);
            gain += y * y;
        }
        return gain;
    };
    m_band = bandFilter(m_receiver.lowHz, m_receiver.highHz);
    // The noise's density is set in 300-2700 Hz, whatever the receiver's filter or form.
    const double gain = powerGain(bandFilter(300, 2700));
    // I/Q: each of I and Q white with the real audio's sigma has the same density per Hz; the
    // anti-alias filter (its halves for I and Q alike) shapes it.
    const std::array<Biquad, 4> lowPass = bandFilter(0, IqBandShare * rateHz);
    m_alias = {lowPass[2], lowPass[3], lowPass[2], lowPass[3]};
    const double aliasGain = powerGain(lowPass);
    // The chirp's power is amplitude^2 / 2 (in I/Q, with the same power, each of I and Q has
    // amplitude / sqrt(2)); the noise's is sigma^2 after the filter. The peak allows for
    // every sounder's echoes in phase at once, both rays of every mode, and, without AGC, the
    // carriers' and the crashes' peaks.
    const double noisePerAmplitude = std::sqrt(0.5) * std::pow(10.0, -snrDb / 20);
    const bool iq = m_receiver.iq;
    // Of the noise in I or in the real audio, the one that reaches the samples.
    const double outputNoisePerAmplitude
        = iq ? noisePerAmplitude * std::sqrt(aliasGain / gain) : noisePerAmplitude;
    double echoes = 0;
    for (size_t m = 0; m < ModeCount; ++m)
        echoes += 2 * amplitudeOf(sky, Mode(m));
    const double count = double(std::max<size_t>(m_sounders.size(), 1));
    double peak
        = count * echoes * (iq ? std::sqrt(0.5) : 1.0) + NoiseSigmas * outputNoisePerAmplitude;
    if (!m_receiver.agc) {
        for (const Carrier &carrier : m_receiver.carriers)
            peak += (iq ? 1.0 : std::sqrt(2.0)) * std::pow(10.0, carrier.levelDb / 20)
                    * noisePerAmplitude;
        if (m_receiver.crashes.perS > 0)
            peak += CrashSigmas * std::pow(10.0, m_receiver.crashes.levelDb / 20)
                    * outputNoisePerAmplitude;
    }
    m_chirpAmplitude = PeakShare * 32767 / peak;
    m_whiteSigma = m_chirpAmplitude * noisePerAmplitude / std::sqrt(gain);
    m_noiseRms = m_chirpAmplitude * noisePerAmplitude;
    m_iqNoiseRms = m_whiteSigma * std::sqrt(2 * aliasGain);
    for (const Carrier &carrier : m_receiver.carriers) {
        // In I/Q the anti-alias filter passes every carrier (up to 6 kHz) whole.
        m_carrierAmplitudes.push_back(
            iq ? m_noiseRms * std::pow(10.0, carrier.levelDb / 20)
               : std::sqrt(2.0) * m_noiseRms * std::pow(10.0, carrier.levelDb / 20)
                     * passbandGain(carrier.audioHz, m_receiver.lowHz, m_receiver.highHz));
        m_carrierPhases.push_back(0);
    }
    const Crashes &crashes = m_receiver.crashes;
    if (crashes.perS > 0) {
        m_crashSigma = m_whiteSigma * std::pow(10.0, crashes.levelDb / 20);
        m_crashFall = std::pow(CrashEnd, 1 / (crashes.lengthS * rateHz));
        m_samplesToCrash = std::llround(m_crashGap(m_crashRandom) * rateHz);
    }
    if (m_receiver.agc) {
        // Olli Niemitalo's pair of allpass chains: 90 +- 0.7 degrees apart from 50 Hz to
        // 12 kHz at 48 kHz (from 1/48000 to 1/4 of the rate at any), the audio's envelope
        // without a long Hilbert filter. I/Q has its envelope at hand.
        const double coefficients[] = {0.6923878,
                                       0.9360654322959,
                                       0.9882295226860,
                                       0.9987488452737,
                                       0.4021921162426,
                                       0.8561710882420,
                                       0.9722909545651,
                                       0.9952884791278};
        for (size_t i = 0; i < m_quadrature.size(); ++i)
            m_quadrature[i].c2 = coefficients[i] * coefficients[i];
        m_agcAttack = 1 - std::exp(-1 / (m_receiver.agc->attackS * rateHz));
        m_agcDecay = std::exp(-1 / (m_receiver.agc->decayS * rateHz));
    }
}

double SkyAudio::crashSigma()
{
    if (m_receiver.crashes.perS <= 0)
        return 0;
    if (--m_samplesToCrash <= 0) {
        m_crashEnvelope += 1; // crashes that overlap add up
        m_samplesToCrash
            = std::max<qint64>(1, std::llround(m_crashGap(m_crashRandom) * m_receiver.rateHz));
    }
    const double sigma = m_crashSigma * m_crashEnvelope;
    m_crashEnvelope *= m_crashFall;
    if (m_crashEnvelope < CrashEnd)
        m_crashEnvelope = 0;
    return sigma;
}

double SkyAudio::bandNoise()
{
    double y = m_whiteSigma * m_gauss(m_random);
    if (const double crash = crashSigma(); crash > 0)
        y += crash * m_crashGauss(m_crashRandom);
    for (Biquad &b : m_band)
        y = b.step(y);
    return y;
}

std::complex<double> SkyAudio::iqNoise()
{
    double i = m_whiteSigma * m_gauss(m_random);
    double q = m_whiteSigma * m_gauss(m_random);
    if (const double crash = crashSigma(); crash > 0) {
        i += crash * m_crashGauss(m_crashRandom);
        q += crash * m_crashGauss(m_crashRandom);
    }
    i = m_alias[1].step(m_alias[0].step(i));
    q = m_alias[3].step(m_alias[2].step(q));
    return {i, q};
}

void SkyAudio::addEcho(std::span<double> block,
                       qint64 startNs,
                       double dialHz,
                       const Sounder &sounder,
                       const Echo &echo) const
{
    // The echo of the sweep crosses the dial leadS after the sweep's start; u is the time
    // since then, and the audio frequency is rate * u in USB, -rate * u in LSB, where the
    // passage begins openS before the crossing.
    const bool lower = m_receiver.sideband == Sideband::Lower;
    const double sign = lower ? -1.0 : 1.0;
    const double edgeLowHz = m_receiver.lowHz - EdgeHz, edgeHighHz = m_receiver.highHz + EdgeHz;
    const double rate = sounder.sweepHzPerS;
    const double leadS = dialHz / rate + echo.delayS;
    const double openS = lower ? edgeHighHz / rate : 0.0;
    const qint64 leadNs = std::llround((leadS - openS) * 1e9);
    const qint64 lastNs = (qint64(block.size()) - 1) * 1'000'000'000 / m_receiver.rateHz;
    const qint64 firstStart = chirpStartNs(startNs - leadNs, sounder);
    const qint64 lastStart = chirpStartNs(startNs + lastNs - leadNs, sounder);
    const double firstU = double(startNs - firstStart) * 1e-9 - leadS;
    const double lastU = double(startNs - lastStart) * 1e-9 - leadS;
    const double amplitude = sign * m_chirpAmplitude * echo.amplitude;
    for (size_t i = 0; i < block.size(); ++i) {
        const double sinceStart = double(i) / m_receiver.rateHz;
        double u = firstU + sinceStart;
        if (lastStart != firstStart && lastU + sinceStart >= -openS)
            u = lastU + sinceStart; // a new sweep began within the block
        const double audioHz = sign * rate * u;
        if (audioHz <= edgeLowHz || audioHz >= edgeHighHz)
            continue;
        // Phase 2 pi (rate u^2 / 2): the RF chirp's phase mixed down by the dial, less a
        // constant; the lower sideband turns it round.
        block[i] += amplitude * passbandGain(audioHz, m_receiver.lowHz, m_receiver.highHz)
                    * std::sin(std::numbers::pi * rate * u * u);
    }
}

void SkyAudio::addIqEcho(std::span<std::complex<double>> block,
                         qint64 startNs,
                         double dialHz,
                         const Sounder &sounder,
                         const Echo &echo) const
{
    // As addEcho, u the time since the echo crosses the dial; the offset is rate * u, heard
    // from lowHz to highHz: the anti-alias filter's edges, or 0 Hz and the sweep's end at RF.
    const double rateHz = m_receiver.rateHz, dt = 1 / rateHz;
    const double topHz = IqBandShare * rateHz, passHz = topHz - EdgeHz, edgeHz = topHz + EdgeHz;
    const double lowHz = std::max(-edgeHz, -dialHz), highHz = std::min(edgeHz, SweepEndHz - dialHz);
    const double rate = sounder.sweepHzPerS;
    const double leadS = dialHz / rate + echo.delayS;
    const double openS = -lowHz / rate;
    const qint64 leadNs = std::llround((leadS - openS) * 1e9);
    const qint64 lastNs = (qint64(block.size()) - 1) * 1'000'000'000 / m_receiver.rateHz;
    const qint64 firstStart = chirpStartNs(startNs - leadNs, sounder);
    const qint64 lastStart = chirpStartNs(startNs + lastNs - leadNs, sounder);
    const double firstU = double(startNs - firstStart) * 1e-9 - leadS;
    const double lastU = double(startNs - lastStart) * 1e-9 - leadS;
    // A new sweep within the block takes over from the sample where its passage begins.
    auto newFrom = double(block.size());
    if (lastStart != firstStart)
        newFrom = std::clamp(std::ceil((-openS - lastU) * rateHz), 0.0, newFrom);
    const double amplitude = m_chirpAmplitude * echo.amplitude * std::sqrt(0.5);
    // Samples from to to, u0 at from: the phase pi rate u^2 by a recurrence, two complex
    // products a sample (drift stays far below 1e-6 rad in a block).
    const auto addPassage = [&](double from, double to, double u0) {
        const double first = std::max(from, from + std::ceil((lowHz / rate - u0) * rateHz));
        const double end = std::min(to, from + std::floor((highHz / rate - u0) * rateHz) + 1);
        if (!(first < end))
            return;
        double u = u0 + (first - from) * dt;
        double offsetHz = rate * u;
        std::complex<double> z = std::polar(amplitude, std::numbers::pi * rate * u * u);
        std::complex<double> turn = std::polar(1.0, std::numbers::pi * rate * (2 * u + dt) * dt);
        const std::complex<double> turnTurn
            = std::polar(1.0, 2 * std::numbers::pi * rate * dt * dt);
        const double stepHz = rate * dt;
        for (auto i = size_t(first); i < size_t(end); ++i) {
            const double magnitude = std::abs(offsetHz);
            block[i] += magnitude <= passHz ? z : edgeGain(magnitude, edgeHz, passHz) * z;
            z *= turn;
            turn *= turnTurn;
            offsetHz += stepHz;
        }
    };
    addPassage(0, newFrom, firstU);
    addPassage(newFrom, double(block.size()), lastU + newFrom * dt);
}

std::vector<Echo> SkyAudio::echoesNow(qint64 startNs, double rfHz)
{
    const double foHz = f2CriticalHz(m_sky, startNs);
    if (foHz != m_tracesFoHz) {
        m_traces = tracesAt(m_sky, foHz);
        m_tracesFoHz = foHz;
    }
    return echoesOn(m_traces, m_sky, rfHz);
}

void SkyAudio::renderIqStretch(qint64 startNs,
                               std::optional<qint64> dialHz,
                               std::span<std::complex<double>> block)
{
    for (std::complex<double> &sample : block)
        sample = iqNoise();
    if (!dialHz)
        return;
    const auto dial = double(*dialHz);
    // The echoes at the dial, over the whole band.
    for (const Echo &echo : echoesNow(startNs, dial))
        for (const Sounder &sounder : m_sounders)
            addIqEcho(block, startNs, dial, sounder, echo);
    const double sign = m_receiver.sideband == Sideband::Lower ? -1.0 : 1.0;
    for (size_t c = 0; c < m_receiver.carriers.size(); ++c) {
        const auto &ranges = m_receiver.carriers[c].dialRangesHz;
        const double step = sign * m_receiver.carriers[c].audioHz / m_receiver.rateHz;
        double &phase = m_carrierPhases[c];
        if (ranges.empty() || std::any_of(ranges.begin(), ranges.end(), [dial](auto range) {
                return dial >= range.first && dial <= range.second;
            })) {
            std::complex<double> z
                = std::polar(m_carrierAmplitudes[c], 2 * std::numbers::pi * phase);
            const std::complex<double> turn = std::polar(1.0, 2 * std::numbers::pi * step);
            for (std::complex<double> &sample : block) {
                sample += z;
                z *= turn;
            }
        }
        phase = std::fmod(phase + double(block.size()) * step, 1.0);
    }
}

void SkyAudio::renderStretch(qint64 startNs, std::optional<qint64> dialHz, std::span<double> block)
{
    for (double &sample : block)
        sample = bandNoise();
    // Only a dial whose whole passband the sweep covers hears it: no passage is cut short.
    const double edgeHz = m_receiver.highHz + EdgeHz;
    const bool lower = m_receiver.sideband == Sideband::Lower;
    const double dial = dialHz ? double(*dialHz) : -1.0;
    const bool covered = lower ? dial - edgeHz >= 0 && dial <= SweepEndHz
                               : dial >= 0 && dial + edgeHz <= SweepEndHz;
    if (dialHz && covered) {
        const double centreHz = (m_receiver.lowHz + m_receiver.highHz) / 2;
        for (const Echo &echo : echoesNow(startNs, lower ? dial - centreHz : dial + centreHz))
            for (const Sounder &sounder : m_sounders)
                addEcho(block, startNs, dial, sounder, echo);
    }
    for (size_t c = 0; c < m_receiver.carriers.size(); ++c) {
        const auto &ranges = m_receiver.carriers[c].dialRangesHz;
        const bool heard
            = dialHz
              && (ranges.empty() || std::any_of(ranges.begin(), ranges.end(), [dial](auto range) {
                      return dial >= range.first && dial <= range.second;
                  }));
        const double step = m_receiver.carriers[c].audioHz / m_receiver.rateHz; // cycles a sample
        double &phase = m_carrierPhases[c];
        if (heard) {
            const double amplitude = m_carrierAmplitudes[c];
            for (size_t i = 0; i < block.size(); ++i)
                block[i] += amplitude * std::sin(2 * std::numbers::pi * (phase + double(i) * step));
        }
        phase = std::fmod(phase + double(block.size()) * step, 1.0);
    }
}

void SkyAudio::finish(qint64 startNs, std::span<const double> block, std::span<qint16> out)
{
    const double knee = AgcKnee * m_noiseRms;
    for (size_t i = 0; i < out.size(); ++i) {
        double y = block[i];
        if (m_receiver.agc) {
            double inPhase = y, quadrature = y;
            for (size_t k = 0; k < 4; ++k) {
                inPhase = m_quadrature[k].step(inPhase);
                quadrature = m_quadrature[k + 4].step(quadrature);
            }
            const double envelope = std::hypot(m_inPhase, quadrature);
            m_inPhase = inPhase;
            y *= agcGain(envelope, knee);
        }
        out[i] = muted(startNs, i) ? qint16(0) : toSample(y);
    }
}

double SkyAudio::agcGain(double envelope, double knee)
{
    m_agcLevel = envelope > m_agcLevel ? m_agcLevel + m_agcAttack * (envelope - m_agcLevel)
                                       : m_agcLevel * m_agcDecay;
    return AgcOutput / std::max(m_agcLevel, knee);
}

bool SkyAudio::muted(qint64 startNs, size_t sample) const
{
    const qint64 atNs = startNs + sampleNs(qint64(sample), m_receiver.rateHz);
    return atNs >= m_muteFromNs && atNs < m_muteUntilNs;
}

void SkyAudio::finishIq(qint64 startNs,
                        std::span<const std::complex<double>> block,
                        std::span<qint16> out)
{
    const double knee = AgcKnee * m_iqNoiseRms;
    for (size_t i = 0; i < block.size(); ++i) {
        std::complex<double> z = block[i];
        if (m_receiver.agc)
            z *= agcGain(std::abs(z), knee);
        if (muted(startNs, i))
            z = 0;
        const qint16 inPhase = toSample(z.real());
        const qint16 quadrature = m_receiver.iqSilentQ ? qint16(0) : toSample(z.imag());
        out[2 * i] = m_receiver.iqSwapped ? quadrature : inPhase;
        out[2 * i + 1] = m_receiver.iqSwapped ? inPhase : quadrature;
    }
}

void SkyAudio::retune(qint64 commandNs, qint64 dialHz)
{
    m_retunes.push_back({commandNs + std::llround(m_receiver.latencyS * 1e9), dialHz});
}

void SkyAudio::render(qint64 startNs, std::optional<qint64> dialHz, std::span<qint16> out)
{
    m_retunes.clear();
    m_dialHz = dialHz;
    render(startNs, out);
}

void SkyAudio::render(qint64 startNs, std::span<qint16> out)
{
    const int rateHz = m_receiver.rateHz;
    const auto channels = size_t(this->channels());
    const auto n = qint64(out.size() / channels);
    if (m_receiver.iq) {
        if (m_iqBlock.size() < size_t(n))
            m_iqBlock.resize(size_t(n));
    } else if (m_block.size() < out.size()) {
        m_block.resize(out.size());
    }
    // In stretches of one dial each, cut where a retune lands.
    qint64 i = 0;
    while (i < n) {
        qint64 end = n;
        if (!m_retunes.empty()) {
            const Retune &next = m_retunes.front();
            const qint64 untilNs = next.atNs - startNs;
            const qint64 at = untilNs <= 0                     ? 0
                              : untilNs >= sampleNs(n, rateHz) ? n
                                                               : firstSampleAt(untilNs, rateHz);
            if (at <= i) {
                m_dialHz = next.dialHz;
                m_muteFromNs = next.atNs;
                m_muteUntilNs = next.atNs + std::llround(m_receiver.muteS * 1e9);
                m_retunes.erase(m_retunes.begin());
                continue;
            }
            end = std::min(n, at);
        }
        const qint64 stretchNs = startNs + sampleNs(i, rateHz);
        const auto samples = out.subspan(size_t(i) * channels, size_t(end - i) * channels);
        if (m_receiver.iq) {
            const auto block = std::span(m_iqBlock).subspan(size_t(i), size_t(end - i));
            renderIqStretch(stretchNs, m_dialHz, block);
            finishIq(stretchNs, block, samples);
        } else {
            const auto block = std::span(m_block).subspan(size_t(i), size_t(end - i));
            renderStretch(stretchNs, m_dialHz, block);
            finish(stretchNs, block, samples);
        }
        i = end;
    }
}

} // namespace Sky
