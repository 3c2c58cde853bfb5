// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The chirp detector on synthesized audio, the same seeds every run: how often it finds an
// echo at each SNR, how far off its delays are, what it finds in noise alone, whether it
// parts two close echoes, and what a step costs. Each figure twice: searching the drawn
// delays (0 to 40 ms, once --audio-delay is given) and the wide search (-50 to 300 ms).

#include "listener.h"
#include "syntheticaudio.h"

#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int Rate = 48000;

struct Tally
{
    int found = 0;
    double squaredErrorMs = 0;
    double rmsMs() const { return found ? std::sqrt(squaredErrorMs / found) : 0.0; }
};

double arrivalIn(const Listen::ChirpDetector &detector, double fraction)
{
    return detector.blockLeadMs() * Rate / 1000 + fraction;
}

// Steps with one echo at a random delay from 3 to 30 ms, between samples.
Tally oneEcho(const Listen::ChirpDetector &detector, double snrDb, int steps)
{
    std::mt19937 random(unsigned(1000 + snrDb * 10));
    std::uniform_real_distribution<double> delay(3, 30), fraction(0, 1);
    Tally tally;
    for (int i = 0; i < steps; ++i) {
        const double arrival = arrivalIn(detector, fraction(random));
        const double delayMs = delay(random);
        const auto audio = syntheticAudio(
            Rate, detector.blockSamples(), arrival, {{delayMs, 0}}, snrDb, unsigned(random()));
        for (const auto &echo : detector.detect(audio, arrival).echoes) {
            if (std::abs(echo.delayMs - delayMs) < 0.5) {
                ++tally.found;
                tally.squaredErrorMs += std::pow(echo.delayMs - delayMs, 2);
                break;
            }
        }
    }
    return tally;
}

int falseEchoes(const Listen::ChirpDetector &detector, int steps)
{
    int count = 0;
    for (int i = 0; i < steps; ++i) {
        const double arrival = arrivalIn(detector, 0.5);
        const auto audio
            = syntheticAudio(Rate, detector.blockSamples(), arrival, {}, 0, 50'000 + unsigned(i));
        count += int(detector.detect(audio, arrival).echoes.size());
    }
    return count;
}

int bothOfTwo(const Listen::ChirpDetector &detector, int steps)
{
    std::mt19937 random(77);
    std::uniform_real_distribution<double> delay(3, 28), fraction(0, 1);
    int both = 0;
    for (int i = 0; i < steps; ++i) {
        const double arrival = arrivalIn(detector, fraction(random));
        const double first = delay(random);
        const auto audio = syntheticAudio(Rate,
                                          detector.blockSamples(),
                                          arrival,
                                          {{first, 0}, {first + 1.5, -3}},
                                          3,
                                          unsigned(random()));
        bool a = false, b = false;
        for (const auto &echo : detector.detect(audio, arrival).echoes) {
            a = a || std::abs(echo.delayMs - first) < 0.3;
            b = b || std::abs(echo.delayMs - first - 1.5) < 0.3;
        }
        both += a && b ? 1 : 0;
    }
    return both;
}

double msPerStep(const Listen::ChirpDetector &detector)
{
    const double arrival = arrivalIn(detector, 0.37);
    const auto audio = syntheticAudio(Rate, detector.blockSamples(), arrival, {{7.9, 0}}, 0, 1);
    constexpr int Runs = 300;
    QElapsedTimer timer;
    timer.start();
    size_t echoes = 0;
    for (int i = 0; i < Runs; ++i)
        echoes += size_t(detector.detect(audio, arrival).echoes.size());
    const double ms = double(timer.nsecsElapsed()) / 1e6 / Runs;
    return echoes > 0 ? ms : -1;
}

} // namespace

int main()
{
    Listen::ListenOptions calibrated;
    calibrated.audioDelayMs = 0;
    const Listen::ChirpDetector narrow(Listen::detectorSettingsFor(calibrated));
    const Listen::ChirpDetector wide(Listen::detectorSettingsFor({}));

    std::printf("One echo, 200 steps at each SNR (found: within 0.5 ms of the true delay)\n\n");
    std::printf("| SNR dB | prototype | found, 0 to 40 ms | rms error ms | found, -50 to 300 ms |"
                " rms error ms |\n|---|---|---|---|---|---|\n");
    const struct
    {
        double snr;
        const char *prototype;
    } rows[] = {{0, "-"}, {-3, "-"}, {-5, "199/200"}, {-7, "156/200"}, {-9, "-"}};
    for (const auto &row : rows) {
        const Tally n = oneEcho(narrow, row.snr, 200);
        const Tally w = oneEcho(wide, row.snr, 200);
        std::printf("| %.0f | %s | %d/200 | %.3f | %d/200 | %.3f |\n",
                    row.snr,
                    row.prototype,
                    n.found,
                    n.rmsMs(),
                    w.found,
                    w.rmsMs());
    }
    std::printf("\nFalse echoes in noise alone: %d in 281 steps (0 to 40 ms), %d in 281 steps "
                "(-50 to 300 ms); prototype: 0 in 281\n",
                falseEchoes(narrow, 281),
                falseEchoes(wide, 281));
    std::printf("False echoes over 2,810 steps: %d (0 to 40 ms), %d (-50 to 300 ms)\n",
                falseEchoes(narrow, 2810),
                falseEchoes(wide, 2810));
    std::printf("Two echoes 1.5 ms apart (0 and -3 dB) at +3 dB: both found in %d/100 (0 to 40 "
                "ms), %d/100 (-50 to 300 ms); prototype: 90/100\n",
                bothOfTwo(narrow, 100),
                bothOfTwo(wide, 100));
    std::printf("Cost per step: %.2f ms (0 to 40 ms), %.2f ms (-50 to 300 ms); blocks of %lld "
                "and %lld samples\n",
                msPerStep(narrow),
                msPerStep(wide),
                static_cast<long long>(narrow.blockSamples()),
                static_cast<long long>(wide.blockSamples()));
    return 0;
}
