// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The chirp detector through each passband a receiver may give it, from a 2.4 kHz audio
// filter to 192 kHz of I/Q, the same seeds every run: the carrier-to-noise density at which
// it finds 90 % of echoes, what it finds in noise alone, how far off its delays are 10 dB
// above that, and what a step costs (one core's time), with the dial held as the listener
// holds it (from 550 ms before the chirp's expected arrival to 400 ms after).

#include "listener.h"
#include "syntheticaudio.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

struct Passband
{
    const char *name;
    int rate;
    SyntheticBand band;
    bool wholeBand; // the detector is given no passband: the input's whole band
    int steps;      // steps at each C/N0 tried
};

constexpr double DialFromMs = -550;
constexpr double DialToMs = 400;
constexpr int NoiseSteps = 281;
constexpr int ErrorSteps = 100;
// C/N0 is searched in half decibels over this range (dB-Hz).
constexpr double LowestCn0 = 0;
constexpr double HighestCn0 = 50;

Listen::DetectorSettings settingsFor(const Passband &passband, bool calibrated)
{
    Listen::ListenOptions options;
    if (calibrated)
        options.audioDelayMs = 0;
    options.iq = passband.band.iq;
    if (!passband.wholeBand)
        options.passbandHz = std::pair{passband.band.lowHz, passband.band.highHz};
    Listen::DetectorSettings settings = Listen::detectorSettingsFor(options);
    settings.sampleRate = passband.rate;
    settings.dialFromMs = -600;
    settings.dialToMs = 400;
    return settings;
}

// One step's block with its echo (none when delayMs is NaN), and where its arrival and dial
// fall in it (samples).
struct Block
{
    std::vector<float> samples;
    double arrival = 0;
    double dialFrom = 0;
    double dialTo = 0;
};

Block blockFor(const Listen::ChirpDetector &detector,
               const Passband &passband,
               double fraction,
               double delayMs,
               double cn0DbHz,
               unsigned seed)
{
    const double perMs = passband.rate / 1000.0;
    Block block;
    block.arrival = detector.blockLeadMs() * perMs + fraction;
    block.dialFrom = block.arrival + DialFromMs * perMs;
    block.dialTo = block.arrival + DialToMs * perMs;
    QList<SyntheticEcho> echoes;
    if (!std::isnan(delayMs))
        echoes.append({delayMs, 0});
    block.samples = syntheticBandAudio(passband.rate,
                                       detector.blockSamples(),
                                       block.arrival,
                                       echoes,
                                       cn0DbHz,
                                       seed,
                                       passband.band);
    return block;
}

Listen::Detection detect(const Listen::ChirpDetector &detector, const Block &block)
{
    return detector.detect(block.samples, block.arrival, block.dialFrom, block.dialTo);
}

// The i-th step's echo: delays spread over 5 to 35 ms by the golden ratio, arriving between
// samples.
double delayOf(int i)
{
    return 5 + 30 * std::fmod(i * 0.6180339887, 1.0);
}
double fractionOf(int i)
{
    return std::fmod(0.37 + i * 0.7548776662, 1.0);
}

struct Tally
{
    int found = 0;
    double squaredErrorMs = 0;
    double rmsMs() const { return found ? std::sqrt(squaredErrorMs / found) : qQNaN(); }
};

Tally oneEcho(const Listen::ChirpDetector &detector,
              const Passband &passband,
              double cn0DbHz,
              int steps,
              double withinMs,
              unsigned firstSeed)
{
    Tally tally;
    for (int i = 0; i < steps; ++i) {
        const double delayMs = delayOf(i);
        const Block block = blockFor(
            detector, passband, fractionOf(i), delayMs, cn0DbHz, firstSeed + unsigned(i));
        for (const auto &echo : detect(detector, block).echoes) {
            const double errorMs = echo.delayMs - delayMs;
            if (std::abs(errorMs) <= withinMs) {
                ++tally.found;
                tally.squaredErrorMs += errorMs * errorMs;
                break;
            }
        }
    }
    return tally;
}

// The lowest C/N0 (to 0.5 dB) at which 90 % of steps find their echo, by bisection: the
// same seeds at each level, so that more signal finds at least as much.
double cn0For90(const Listen::ChirpDetector &detector, const Passband &passband, double withinMs)
{
    int below = int(LowestCn0 * 2), atOrAbove = int(HighestCn0 * 2);
    while (atOrAbove - below > 1) {
        const int half = (below + atOrAbove) / 2;
        const Tally tally = oneEcho(detector, passband, half / 2.0, passband.steps, withinMs, 1000);
        (10 * tally.found >= 9 * passband.steps ? atOrAbove : below) = half;
    }
    return atOrAbove / 2.0;
}

int falseEchoes(const Listen::ChirpDetector &detector, const Passband &passband)
{
    int count = 0;
    for (int i = 0; i < NoiseSteps; ++i) {
        const Block block = blockFor(detector, passband, 0.5, qQNaN(), 0, 50'000 + unsigned(i));
        count += int(detect(detector, block).echoes.size());
    }
    return count;
}

// The median of one core's time for a step (ms), after a warm-up.
double msPerStep(const Listen::ChirpDetector &detector, const Passband &passband, double cn0DbHz)
{
    const Block block = blockFor(detector, passband, 0.37, 17.3, cn0DbHz, 7);
    constexpr int WarmUp = 3;
    constexpr int Timed = 21;
    std::vector<double> ms;
    qsizetype echoes = 0;
    for (int i = 0; i < WarmUp + Timed; ++i) {
        const std::clock_t start = std::clock();
        echoes += detect(detector, block).echoes.size();
        const std::clock_t end = std::clock();
        if (i >= WarmUp)
            ms.push_back(1000.0 * double(end - start) / CLOCKS_PER_SEC);
    }
    std::nth_element(ms.begin(), ms.begin() + Timed / 2, ms.end());
    return echoes > 0 ? ms[Timed / 2] : qQNaN();
}

struct Row
{
    double cn0DbHz = 0;
    double rmsMs = 0;
    double calibratedMs = 0;
    double wideMs = 0;
    qsizetype calibratedBlock = 0;
    qsizetype wideBlock = 0;
};

} // namespace

int main()
{
    Listen::keepLargeBuffers();
    QElapsedTimer run;
    run.start();

    const Passband passbands[] = {
        {"2.4 kHz audio", 48000, {300, 2700, false, false}, false, 100},
        {"3.6 kHz audio", 48000, {300, 3900, false, false}, false, 100},
        {"20 kHz audio", 48000, {300, 20300, false, false}, false, 100},
        {"48 kHz I/Q, whole band", 48000, {-21600, 21600, true, false}, true, 100},
        {"192 kHz I/Q, whole band", 192000, {-86400, 86400, true, false}, true, 100},
    };

    std::printf("\nOne echo at 5 to 35 ms; the dial held from %.0f to +%.0f ms of the expected "
                "arrival. Found: an echo within 3 resolution cells or 0.5 ms of the true delay, "
                "whichever is less. Sensitivity, false echoes and errors in the calibrated search "
                "(0 to 40 ms); cost there and in the wide search (-50 to 300 ms).\n\n",
                DialFromMs,
                DialToMs);
    std::printf("| passband | heard, Hz from the dial | 1/B ms | found within ms | C/N0 for 90 %% "
                "found, dB-Hz (steps each) | false echoes in %d noise-only steps | rms error ms, "
                "10 dB above (found of %d) | cost ms, 0 to 40 ms | cost ms, -50 to 300 ms |\n"
                "|---|---|---|---|---|---|---|---|---|\n",
                NoiseSteps,
                ErrorSteps);
    std::fflush(stdout);
    std::vector<Row> rows;
    for (const Passband &passband : passbands) {
        const Listen::ChirpDetector calibrated(settingsFor(passband, true));
        const Listen::ChirpDetector wide(settingsFor(passband, false));
        const double withinMs = std::min(3 * calibrated.resolutionMs(), 0.5);
        Row row;
        row.cn0DbHz = cn0For90(calibrated, passband, withinMs);
        const int noise = falseEchoes(calibrated, passband);
        const Tally error
            = oneEcho(calibrated, passband, row.cn0DbHz + 10, ErrorSteps, withinMs, 20'000);
        row.rmsMs = error.rmsMs();
        row.calibratedMs = msPerStep(calibrated, passband, row.cn0DbHz + 10);
        row.wideMs = msPerStep(wide, passband, row.cn0DbHz + 10);
        row.calibratedBlock = calibrated.blockSamples();
        row.wideBlock = wide.blockSamples();
        rows.push_back(row);
        std::printf("| %s | %.0f to %.0f | %.4f | %.3f | %.1f (%d) | %d | %.4f (%d) | %.2f | %.2f "
                    "|\n",
                    passband.name,
                    calibrated.heardLowHz(),
                    calibrated.heardHighHz(),
                    calibrated.resolutionMs(),
                    withinMs,
                    row.cn0DbHz,
                    passband.steps,
                    noise,
                    row.rmsMs,
                    error.found,
                    row.calibratedMs,
                    row.wideMs);
        std::fflush(stdout);
    }

    const Row &audio = rows[0];
    const Row &iq48 = rows[3];
    const Row &iq192 = rows[4];
    const auto verdict = [](bool met) {
        return met ? "met" : "MISSED";
    };
    const double gainDb = audio.cn0DbHz - iq48.cn0DbHz;
    const double errorRatio = iq48.rmsMs / audio.rmsMs;
    std::printf("\n48 kHz I/Q over 2.4 kHz audio: %.1f dB more sensitive (target >= 20 dB: %s); "
                "rms error %.3f of the audio's (target <= 0.1: %s)\n",
                gainDb,
                verdict(gainDb >= 20),
                errorRatio,
                verdict(errorRatio <= 0.1));
    std::printf("Cost per step: %.2f / %.2f ms at 192 kHz I/Q (target < 50 ms: %s), %.2f / %.2f "
                "ms at 48 kHz I/Q (target < 5 ms: %s), calibrated / wide search\n",
                iq192.calibratedMs,
                iq192.wideMs,
                verdict(std::max(iq192.calibratedMs, iq192.wideMs) < 50),
                iq48.calibratedMs,
                iq48.wideMs,
                verdict(std::max(iq48.calibratedMs, iq48.wideMs) < 5));
    std::printf("Blocks (frames), calibrated / wide search:");
    for (size_t i = 0; i < rows.size(); ++i)
        std::printf("%s %s %lld / %lld",
                    i ? ";" : "",
                    passbands[i].name,
                    static_cast<long long>(rows[i].calibratedBlock),
                    static_cast<long long>(rows[i].wideBlock));
    std::printf("\n");
    std::printf("Run time: %.0f s\n", double(run.elapsed()) / 1000);
    return 0;
}
