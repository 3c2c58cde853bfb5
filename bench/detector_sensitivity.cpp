// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The chirp detector on synthesized audio, the same seeds every run: how often it finds an
// echo at each SNR, how far off its delays are and what it finds in noise alone, in white
// noise and with what a real radio adds (a carrier, static crashes, an AGC, the receiver's
// filter, all of them, the other sideband); whether it parts two close echoes, and what a
// step costs. Each figure twice: searching the drawn delays (0 to 40 ms, once --audio-delay
// is given) and the wide search (-50 to 300 ms).

#include "listener.h"
#include "syntheticaudio.h"

#include <QElapsedTimer>

#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int Rate = 48000;

// What a real radio adds to the audio of a step.
enum Impairment : unsigned {
    Carrier = 1,     // a carrier 20 dB over the passband's noise, in every step
    SomeCarrier = 2, // ... in half the steps
    Crashes = 4,     // static crashes, two a second, 30 dB over the noise, under 1 ms
    Agc = 8,         // an AGC: 1 ms attack, 300 ms decay
    Filter = 16,     // the receiver's filter, 200 to 2,400 Hz
    OtherSideband = 32,
};

struct Tally
{
    int found = 0;
    int drawn = 0; // steps with any echo
    int otherSideband = 0;
    double squaredErrorMs = 0;
    double rmsMs() const { return found ? std::sqrt(squaredErrorMs / found) : 0.0; }
};

double arrivalIn(const Listen::ChirpDetector &detector, double fraction)
{
    return detector.blockLeadMs() * Rate / 1000 + fraction;
}

void impair(std::vector<float> &audio, double snrDb, unsigned impairments, std::mt19937 &random)
{
    const double noise = passbandNoisePower(snrDb);
    std::uniform_real_distribution<double> uniform(0, 1);
    const double samples = double(audio.size());
    const bool carrier = (impairments & Carrier) || ((impairments & SomeCarrier) && random() % 2);
    if (carrier) {
        // On all the time, or keyed on somewhere in the block.
        const double hz = 400 + 2200 * uniform(random);
        const double from = random() % 2 ? 0 : samples * uniform(random);
        addCarrier(audio, Rate, noise, 20, hz, from);
    }
    if (impairments & Crashes) {
        std::poisson_distribution<int> count(2 * samples / Rate);
        QList<double> at;
        for (int i = count(random); i > 0; --i)
            at.append(samples * uniform(random));
        addCrashes(audio, Rate, noise, at, 30, 0.2 + 0.8 * uniform(random), unsigned(random()));
    }
    if (impairments & Filter)
        applyPassband(audio, Rate, 200, 2400);
    if (impairments & Agc)
        applyAgc(audio, Rate, 3 * std::sqrt(noise * Rate / 2 / 2400), 1, 300);
}

// Steps with one echo at a random delay from 3 to 30 ms, between samples.
Tally oneEcho(const Listen::ChirpDetector &detector, double snrDb, int steps, unsigned impairments)
{
    std::mt19937 random(unsigned(1000 + snrDb * 10));
    std::mt19937 radio(unsigned(7000 + snrDb * 10));
    std::uniform_real_distribution<double> delay(3, 30), fraction(0, 1);
    Tally tally;
    for (int i = 0; i < steps; ++i) {
        const double arrival = arrivalIn(detector, fraction(random));
        const double delayMs = delay(random);
        auto audio = syntheticAudio(Rate,
                                    detector.blockSamples(),
                                    arrival,
                                    {{delayMs, 0, (impairments & OtherSideband) != 0}},
                                    snrDb,
                                    unsigned(random()));
        impair(audio, snrDb, impairments, radio);
        const Listen::Detection detection = detector.detect(audio, arrival);
        tally.drawn += detection.echoes.isEmpty() ? 0 : 1;
        tally.otherSideband += detection.lowerSideband ? 1 : 0;
        for (const auto &echo : detection.echoes) {
            if (std::abs(echo.delayMs - delayMs) < 0.5) {
                ++tally.found;
                tally.squaredErrorMs += std::pow(echo.delayMs - delayMs, 2);
                break;
            }
        }
    }
    return tally;
}

int falseEchoes(const Listen::ChirpDetector &detector, int steps, unsigned impairments = 0)
{
    int count = 0;
    for (int i = 0; i < steps; ++i) {
        const double arrival = arrivalIn(detector, 0.5);
        auto audio
            = syntheticAudio(Rate, detector.blockSamples(), arrival, {}, 0, 50'000 + unsigned(i));
        std::mt19937 radio(90'000 + unsigned(i));
        impair(audio, 0, impairments, radio);
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

    const struct
    {
        const char *name;
        unsigned impairments;
    } conditions[] = {
        {"white noise", 0},
        {"a carrier 20 dB over the noise (half the steps keyed on in the block)", Carrier},
        {"static crashes (two a second, +30 dB, 0.2 to 1 ms)", Crashes},
        {"an AGC following crashes and a carrier in half the steps", Agc | Crashes | SomeCarrier},
        {"a 200 to 2,400 Hz filter", Filter},
        {"all together: crashes, a carrier in half the steps, the filter, the AGC",
         Crashes | SomeCarrier | Filter | Agc},
        {"the other sideband (LSB) in white noise", OtherSideband},
    };
    for (const auto &condition : conditions) {
        const bool lsb = condition.impairments & OtherSideband;
        std::printf("\n%s: one echo, 200 steps at each SNR (found: within 0.5 ms of the true "
                    "delay)\n\n",
                    condition.name);
        if (lsb)
            std::printf("| SNR dB | echoes drawn, 0 to 40 ms | lower sideband told | echoes drawn, "
                        "-50 to 300 ms | lower sideband told |\n|---|---|---|---|---|\n");
        else
            std::printf("| SNR dB | found, 0 to 40 ms | rms error ms | found, -50 to 300 ms | "
                        "rms error ms |\n|---|---|---|---|---|\n");
        for (const double snr : {3.0, 0.0, -3.0, -5.0, -7.0}) {
            const Tally n = oneEcho(narrow, snr, 200, condition.impairments);
            const Tally w = oneEcho(wide, snr, 200, condition.impairments);
            if (lsb)
                std::printf("| %+.0f | %d/200 | %d/200 | %d/200 | %d/200 |\n",
                            snr,
                            n.drawn,
                            n.otherSideband,
                            w.drawn,
                            w.otherSideband);
            else
                std::printf("| %+.0f | %d/200 | %.3f | %d/200 | %.3f |\n",
                            snr,
                            n.found,
                            n.rmsMs(),
                            w.found,
                            w.rmsMs());
        }
        if (!lsb)
            std::printf("| noise only: false echoes in 40 steps | %d | | %d | |\n",
                        falseEchoes(narrow, 40, condition.impairments),
                        falseEchoes(wide, 40, condition.impairments));
    }
    std::printf("\nWhite noise alone: %d false echoes in 281 steps (0 to 40 ms), %d in 281 steps "
                "(-50 to 300 ms)\n",
                falseEchoes(narrow, 281),
                falseEchoes(wide, 281));
    std::printf("Two echoes 1.5 ms apart (0 and -3 dB) at +3 dB: both found in %d/100 (0 to 40 "
                "ms), %d/100 (-50 to 300 ms)\n",
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
