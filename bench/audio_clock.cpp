// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The audio clock under a simulated sound card and a busy machine (no real time passes): the
// error after the system clock is stepped, and how far the mapping wanders over a sweep.

#include "audioclock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double NominalRate = 48000;
constexpr double Drift = 50e-6;     // the card runs 50 ppm fast
constexpr double LeastLateMs = 0.1; // no delivery comes sooner after its audio
constexpr double EpochMs = 1.8e12;  // the system clock minus the monotonic clock
constexpr int Seeds = 20;

// A card delivering every deliveryMs of audio to a busy machine: most deliveries 0.1 to
// 0.5 ms late, one in thirty 10 to 60 ms late; the system clock stepped by stepMs at stepAtMs
// (monotonic).
struct Card
{
    Card(double deliveryMs, unsigned seed, double stepMs = 0, double stepAtMs = 1e18)
        : perDelivery(qint64(std::lround(deliveryMs * NominalRate / 1000)))
        , step(stepMs)
        , stepAt(stepAtMs)
        , random(seed)
    {}

    double takenAtMs(double sample) const { return sample / (NominalRate * (1 + Drift)) * 1000; }
    double offsetAtMs(double monotonicMs) const
    {
        return EpochMs + (monotonicMs >= stepAt ? step : 0);
    }
    // Delivers the next block; the monotonic time of the delivery.
    double deliver(Listen::AudioClock &clock)
    {
        delivered += perDelivery;
        const double late = busy(random) < 1.0 / 30 ? longLate(random) : shortLate(random);
        const double monotonic = takenAtMs(double(delivered)) + late;
        clock.observe(delivered, monotonic, monotonic + offsetAtMs(monotonic));
        return monotonic;
    }
    // How far the clock puts `sample` from when it was taken, on the system clock as it
    // reads at monotonic time nowMs (a step moves the past too), beyond the least delay.
    double errorMs(const Listen::AudioClock &clock, double sample, double nowMs) const
    {
        return clock.clockAt(sample) - (takenAtMs(sample) + offsetAtMs(nowMs)) - LeastLateMs;
    }

    qint64 perDelivery;
    qint64 delivered = 0;
    double step;
    double stepAt;
    std::mt19937 random;
    std::uniform_real_distribution<double> busy{0, 1};
    std::uniform_real_distribution<double> shortLate{0.1, 0.5};
    std::uniform_real_distribution<double> longLate{10, 60};
};

// The worst error over the seeds at 1, 10 and 60 s after a step made 5 minutes in.
void afterStep(double deliveryMs, double stepMs)
{
    const double stepAtMs = 300'000;
    const double afterMs[] = {1000, 10'000, 60'000};
    double worst[3] = {0, 0, 0};
    for (int seed = 0; seed < Seeds; ++seed) {
        Listen::AudioClock clock(NominalRate);
        Card card(deliveryMs, unsigned(seed), stepMs, stepAtMs);
        int next = 0;
        while (next < 3) {
            const double now = card.deliver(clock);
            if (now >= stepAtMs + afterMs[next]) {
                // A chirp a second before the newest audio.
                const double sample = double(card.delivered) - NominalRate;
                worst[next] = std::max(worst[next], std::abs(card.errorMs(clock, sample, now)));
                ++next;
            }
        }
    }
    std::printf("| %+5.0f ms | %3.0f ms | %.3f | %.3f | %.3f |\n",
                stepMs,
                deliveryMs,
                worst[0],
                worst[1],
                worst[2]);
}

// How far the mapping wanders over a sweep of 281 s that begins startS seconds into
// listening: the error's spread (largest minus least) and its rms about its mean, the worst
// over the seeds.
void overASweep(double deliveryMs, double startS)
{
    double worstSpread = 0;
    double worstRms = 0;
    for (int seed = 0; seed < Seeds; ++seed) {
        Listen::AudioClock clock(NominalRate);
        Card card(deliveryMs, unsigned(seed));
        std::vector<double> errors;
        double nextMs = startS * 1000;
        const double endMs = nextMs + 281'000;
        while (nextMs < endMs) {
            const double now = card.deliver(clock);
            if (now >= nextMs) {
                errors.push_back(card.errorMs(clock, double(card.delivered) - NominalRate, now));
                nextMs += 1000;
            }
        }
        const auto [low, high] = std::minmax_element(errors.cbegin(), errors.cend());
        double mean = 0;
        for (const double e : errors)
            mean += e / double(errors.size());
        double square = 0;
        for (const double e : errors)
            square += (e - mean) * (e - mean) / double(errors.size());
        worstSpread = std::max(worstSpread, *high - *low);
        worstRms = std::max(worstRms, std::sqrt(square));
    }
    std::printf(
        "| %3.0f ms | %5.0f s | %.3f | %.4f |\n", deliveryMs, startS, worstSpread, worstRms);
}

} // namespace

int main()
{
    std::printf("The audio clock, simulated: a card %g ppm fast, deliveries 0.1-0.5 ms late and "
                "one in 30 10-60 ms late; the worst of %d runs, in ms beyond the least delay.\n\n",
                Drift * 1e6,
                Seeds);
    std::printf("Error after a step of the system clock\n\n");
    std::printf("| step | deliveries | 1 s after | 10 s after | 60 s after |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const double deliveryMs : {10.0, 250.0})
        for (const double stepMs : {-500.0, -20.0, 20.0, 500.0})
            afterStep(deliveryMs, stepMs);
    std::printf("\nWander over a sweep of 281 s\n\n");
    std::printf("| deliveries | sweep begins | spread | rms |\n");
    std::printf("|---|---|---|---|\n");
    for (const double deliveryMs : {10.0, 250.0})
        for (const double startS : {30.0, 120.0, 1800.0})
            overASweep(deliveryMs, startS);
    return 0;
}
