// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Scaling against the sky's truth: simulated sweeps (paths of 500 to 3,500 km, foF2 3 to
// 12 MHz, with and without the X trace, the E layer, two hops and gaps, the nose at 0 to 20 dB
// SNR, some through a receiver with carriers, crashes and an AGC) rendered step by step
// through rigsim's SkyAudio, heard by the real ChirpDetector, one step a 100 kHz dial from 2
// to 30 MHz as the sweep's CSV holds them, scaled by scaleSweep and compared with the
// one-hop MOF the sky gives (the higher of E's and F2's ordinary wave; the X trace lies above
// it). The same seeds every run.
//
//   scaling [--sweeps N] [--seed N]   (default 200 sweeps, three to four minutes on one core)

#include "chirpdetector.h"
#include "chirpschedule.h"
#include "listener.h"
#include "skyaudio.h"
#include "sweepscaling.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

namespace {

// One simulated sweep: what it was drawn with, and what came of it.
struct Case
{
    Sky::Ionosphere sky;
    bool impaired = false;
    double snrDb = 0;
    // The highest step at which one hop is heard, by E or F2 and by either wave (the X trace
    // ends above the ordinary one), a step's dial.
    std::optional<double> truthHz;
    std::optional<qint32> scaledHz; // scaleSweep's one-hop MOF
    std::optional<double> truth2Hz; // two hops' MOF, when the sky has them
    std::optional<qint32> scaled2Hz;
    double scaleMs = 0;
};

// How a sweep's scaled one-hop MOF stands to the truth.
enum class Outcome { WithinStep, WithinHalfMHz, TooHigh, TooLow, NotScaled, NoTruth };

Outcome outcomeOf(const Case &c)
{
    if (!c.truthHz)
        return Outcome::NoTruth;
    if (!c.scaledHz)
        return Outcome::NotScaled;
    const double errorHz = double(*c.scaledHz) - *c.truthHz;
    if (std::abs(errorHz) <= Sky::StepHz + 1)
        return Outcome::WithinStep;
    if (std::abs(errorHz) <= 0.5e6 + 1)
        return Outcome::WithinHalfMHz;
    return errorHz > 0 ? Outcome::TooHigh : Outcome::TooLow;
}

Case drawCase(std::mt19937 &random)
{
    std::uniform_real_distribution<double> uniform(0, 1);
    Case c;
    Sky::Ionosphere &sky = c.sky;
    sky.pathKm = 500 + 3000 * uniform(random);
    sky.f2.foHz = (3 + 9 * uniform(random)) * 1e6;
    sky.f2.hmKm = 250 + 100 * uniform(random);
    sky.f2.ymKm = 50 + 60 * uniform(random);
    // E by day only, when F2 stands over 5 MHz.
    if (uniform(random) < 0.5 || sky.f2.foHz < 5e6)
        sky.e.reset();
    else
        sky.e = Sky::Layer{(2 + 1.5 * uniform(random)) * 1e6, 110, 20};
    sky.levelsDb = {-3.0 - 6 * uniform(random),
                    0.0,
                    uniform(random) < 0.5 ? std::optional<double>() : -3.0 - 6 * uniform(random),
                    uniform(random) < 0.5 ? std::optional<double>() : -1.0 - 5 * uniform(random)};
    if (uniform(random) < 0.3) {
        const int gaps = 1 + int(random() % 3);
        for (int i = 0; i < gaps; ++i) {
            const double lowHz = (2 + 26 * uniform(random)) * 1e6;
            sky.gapsHz.emplace_back(lowHz, lowHz + (0.1 + 0.4 * uniform(random)) * 1e6);
        }
    }
    c.snrDb = 20 * uniform(random);
    c.impaired = uniform(random) < 0.5;
    return c;
}

// The receiver: ideal, or a carrier on the broadcast bands, crashes and an AGC.
Sky::Receiver receiverFor(const Case &c)
{
    Sky::Receiver receiver;
    if (c.impaired) {
        receiver.carriers = {Sky::carrierFromText(QStringLiteral("20:1000:broadcast")).value()};
        receiver.crashes = {1, 30, 0.002};
        receiver.agc = Sky::Agc{0.001, 0.3};
    }
    return receiver;
}

// Renders, hears and scales one sweep that starts at startNs.
void run(Case &c, const Listen::ChirpDetector &detector, qint64 startNs, quint64 seed)
{
    const Sky::Sounder sounder; // 300:78 at 100 kHz/s
    const auto truth = Sky::sweepTruth(c.sky, sounder, startNs);
    c.truthHz = std::max({truth.mofHz[size_t(Sky::Mode::F2)],
                          truth.mofHz[size_t(Sky::Mode::E)],
                          truth.mofHz[size_t(Sky::Mode::X)]});
    c.truth2Hz = truth.mofHz[size_t(Sky::Mode::TwoHopF2)];
    Sky::SkyAudio audio({sounder}, c.sky, c.snrDb, seed, receiverFor(c));
    const auto samples = detector.blockSamples();
    const double leadMs = detector.blockLeadMs();
    std::vector<qint16> block(static_cast<size_t>(samples));
    std::vector<float> heard(static_cast<size_t>(samples));
    std::vector<Listen::SweepStep> steps;
    for (qint32 dialHz = Tracking::SweepFloorHz; dialHz <= Tracking::SweepCeilingHz;
         dialHz += Tracking::SweepStepHz) {
        // The chirp crosses the dial dial / rate after the sweep's start: the expected arrival.
        const qint64 arrivalNs = startNs + qint64(dialHz) * 10'000; // 100 kHz/s: 10 us a Hz
        audio.render(arrivalNs - std::llround(leadMs * 1e6), qint64(dialHz), block);
        for (size_t i = 0; i < block.size(); ++i)
            heard[i] = float(block[i]) / 32768.0F;
        const Listen::Detection detection = detector.detect(heard, leadMs * 48);
        Listen::SweepStep step;
        step.frequencyHz = dialHz;
        step.snrDb = detection.echoes.isEmpty() ? detection.peakDb : detection.echoes.first().snrDb;
        for (const Listen::Echo &echo : detection.echoes)
            step.delaysMs.append(echo.delayMs);
        steps.push_back(step);
    }
    QElapsedTimer timer;
    timer.start();
    const Listen::SweepScale scale = Listen::scaleSweep(steps);
    c.scaleMs = double(timer.nsecsElapsed()) / 1e6;
    if (scale.oneHop)
        c.scaledHz = scale.oneHop->mofHz;
    if (scale.twoHop)
        c.scaled2Hz = scale.twoHop->mofHz;
}

struct Tally
{
    std::array<int, 6> outcomes{};
    int total = 0;
    void add(const Case &c)
    {
        ++outcomes[size_t(outcomeOf(c))];
        ++total;
    }
    QString row(const QString &name) const
    {
        const int judged = total - outcomes[size_t(Outcome::NoTruth)];
        const auto share = [judged](int count) {
            return judged ? QStringLiteral("%1 %").arg(100.0 * count / judged, 0, 'f', 1)
                          : QStringLiteral("-");
        };
        const int within = outcomes[size_t(Outcome::WithinStep)];
        return QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |")
            .arg(name)
            .arg(judged)
            .arg(share(within))
            .arg(share(within + outcomes[size_t(Outcome::WithinHalfMHz)]))
            .arg(share(outcomes[size_t(Outcome::TooHigh)]))
            .arg(share(outcomes[size_t(Outcome::TooLow)]))
            .arg(share(outcomes[size_t(Outcome::NotScaled)]));
    }
};

QString describe(const Case &c)
{
    QStringList parts;
    parts += QStringLiteral("%1 km, foF2 %2 MHz at %3 km (%4), SNR %5 dB")
                 .arg(c.sky.pathKm, 0, 'f', 0)
                 .arg(c.sky.f2.foHz / 1e6, 0, 'f', 2)
                 .arg(c.sky.f2.hmKm, 0, 'f', 0)
                 .arg(c.sky.f2.ymKm, 0, 'f', 0)
                 .arg(c.snrDb, 0, 'f', 1);
    parts += c.sky.e ? QStringLiteral("E %1 MHz").arg(c.sky.e->foHz / 1e6, 0, 'f', 2)
                     : QStringLiteral("no E");
    if (c.sky.levelsDb[size_t(Sky::Mode::TwoHopF2)])
        parts += QStringLiteral("2F2");
    if (c.sky.levelsDb[size_t(Sky::Mode::X)])
        parts += QStringLiteral("X");
    for (const auto &[low, high] : c.sky.gapsHz)
        parts += QStringLiteral("gap %1-%2").arg(low / 1e6, 0, 'f', 2).arg(high / 1e6, 0, 'f', 2);
    if (c.impaired)
        parts += QStringLiteral("impaired");
    const auto mhz = [](auto hz) {
        return hz ? QString::number(double(*hz) / 1e6, 'f', 1) : QStringLiteral("none");
    };
    parts += QStringLiteral("truth %1, scaled %2").arg(mhz(c.truthHz), mhz(c.scaledHz));
    return parts.join(QStringLiteral(", "));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    int sweeps = 200;
    unsigned seed = 1;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        bool ok = false;
        const int value = arguments[i + 1].toInt(&ok);
        if (arguments[i] == QStringLiteral("--sweeps") && ok && value > 0 && value <= 100'000)
            sweeps = value;
        else if (arguments[i] == QStringLiteral("--seed") && ok && value >= 0)
            seed = unsigned(value);
        else {
            std::fprintf(stderr, "usage: scaling [--sweeps 1-100000] [--seed N]\n");
            return 2;
        }
    }

    Listen::ListenOptions calibrated;
    calibrated.audioDelayMs = 0;
    const Listen::ChirpDetector detector(Listen::detectorSettingsFor(calibrated));
    std::mt19937 random(seed);
    // Sweeps of 300:78 from midnight UTC, 8 December 2026, one a period.
    const qint64 firstNs = 1'796'688'000'000'000'000 + 78'000'000'000;
    std::vector<Case> cases;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < sweeps; ++i) {
        Case c = drawCase(random);
        run(c, detector, firstNs + qint64(i) * 300'000'000'000, seed * 100'003ULL + quint64(i));
        cases.push_back(c);
    }

    std::printf("%d sweeps in %.0f s; the one-hop MOF as scaled against the sky's truth\n\n",
                sweeps,
                double(clock.elapsed()) / 1e3);
    std::printf("| sweeps | judged | within 0.1 MHz | within 0.5 MHz | over by > 0.5 MHz | under "
                "by > 0.5 MHz | not scaled |\n|---|---|---|---|---|---|---|\n");
    const auto table = [&](const QString &name, auto keep) {
        Tally tally;
        for (const Case &c : cases)
            if (keep(c))
                tally.add(c);
        std::printf("%s\n", qPrintable(tally.row(name)));
    };
    table(QStringLiteral("all"), [](const Case &) { return true; });
    table(QStringLiteral("nose 3 dB or more over the noise"),
          [](const Case &c) { return c.snrDb >= 3; });
    const std::array<std::pair<double, double>, 5> buckets{
        {{0, 3}, {3, 6}, {6, 10}, {10, 15}, {15, 20}}};
    for (const auto &[low, high] : buckets)
        table(QStringLiteral("SNR %1 to %2 dB").arg(low).arg(high),
              [low = low, high = high](const Case &c) { return c.snrDb >= low && c.snrDb < high; });
    const auto on = [](Sky::Mode mode) {
        return [mode](const Case &c) {
            return c.snrDb >= 3 && c.sky.levelsDb[size_t(mode)].has_value();
        };
    };
    const auto off = [](Sky::Mode mode) {
        return [mode](const Case &c) {
            return c.snrDb >= 3 && !c.sky.levelsDb[size_t(mode)].has_value();
        };
    };
    table(QStringLiteral("3 dB+, with the X trace"), on(Sky::Mode::X));
    table(QStringLiteral("3 dB+, without the X trace"), off(Sky::Mode::X));
    table(QStringLiteral("3 dB+, with two hops"), on(Sky::Mode::TwoHopF2));
    table(QStringLiteral("3 dB+, with E"), [](const Case &c) { return c.snrDb >= 3 && c.sky.e; });
    table(QStringLiteral("3 dB+, without E"),
          [](const Case &c) { return c.snrDb >= 3 && !c.sky.e; });
    table(QStringLiteral("3 dB+, with gaps"),
          [](const Case &c) { return c.snrDb >= 3 && !c.sky.gapsHz.empty(); });
    table(QStringLiteral("3 dB+, impaired receiver"),
          [](const Case &c) { return c.snrDb >= 3 && c.impaired; });
    table(QStringLiteral("3 dB+, ideal receiver"),
          [](const Case &c) { return c.snrDb >= 3 && !c.impaired; });

    double totalMs = 0, worstMs = 0;
    for (const Case &c : cases) {
        totalMs += c.scaleMs;
        worstMs = std::max(worstMs, c.scaleMs);
    }
    std::printf("\nScaling a sweep (%d steps): %.3f ms on average, %.3f ms at most\n",
                Tracking::SweepSteps,
                totalMs / double(cases.size()),
                worstMs);

    // Two hops, in the sweeps 3 dB or more over the noise: read within 0.5 MHz, wrong, empty.
    int twoHopSweeps = 0, twoHopRight = 0, twoHopWrong = 0, twoHopFalse = 0;
    for (const Case &c : cases) {
        if (c.snrDb < 3)
            continue;
        if (!c.truth2Hz) {
            twoHopFalse += c.scaled2Hz ? 1 : 0;
            continue;
        }
        ++twoHopSweeps;
        if (c.scaled2Hz && std::abs(double(*c.scaled2Hz) - *c.truth2Hz) <= 500'000)
            ++twoHopRight;
        else if (c.scaled2Hz)
            ++twoHopWrong;
    }
    std::printf("Two hops (3 dB+): in %d sweeps with them, read within 0.5 MHz in %d, wrong in "
                "%d, empty in the rest; read in %d sweeps without them\n",
                twoHopSweeps,
                twoHopRight,
                twoHopWrong,
                twoHopFalse);

    // The misses of sweeps 3 dB or more over the noise, one by one.
    int missed = 0;
    QStringList others;
    for (const Case &c : cases) {
        const Outcome outcome = outcomeOf(c);
        if (c.snrDb < 3 || outcome == Outcome::WithinStep || outcome == Outcome::NoTruth)
            continue;
        ++missed;
        others += describe(c);
    }
    std::printf("\nSweeps 3 dB or more over the noise not scaled within one step: %d\n", missed);
    for (const QString &line : std::as_const(others))
        std::printf("- %s\n", qPrintable(line));
    return 0;
}
