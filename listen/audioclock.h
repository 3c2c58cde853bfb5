// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <deque>
#include <optional>
#include <vector>

namespace Listen {

// Maps the sound card's sample count to the system clock (ms since the epoch), and keeps the
// mapping right while the card's clock drifts (a card 50 ppm off is 180 ms off an hour) and
// when the system clock is stepped.
//
// The samples are mapped to a monotonic clock first, which no one steps: each block of audio
// is delivered after the card took it, never before, so the deliveries lie on or above one
// straight line (the card's rate and offset), and the line under the earliest deliveries of
// the last ten minutes that lies closest to them all is the mapping. The system clock is
// read beside the monotonic one at each delivery; their difference moves only slowly while
// the system clock is slewed, and jumps when it is stepped. A step is noticed and the
// mapping follows the system clock across it; the step never enters the line.
class AudioClock
{
public:
    explicit AudioClock(double nominalRate);

    struct Observed
    {
        // The audio lost samples against the clock (an overrun, a stall of the sound
        // server): the mapping started again from this delivery.
        bool lost = false;
        // The system clock was stepped by this much (ms) since the last delivery.
        std::optional<double> clockStepMs;
    };
    // Audio up to (not including) sample `endSample` was delivered at `monotonicMs`, when the
    // system clock read `clockMs`.
    Observed observe(qint64 endSample, double monotonicMs, double clockMs);

    bool isValid() const { return m_valid; }
    // The system clock time at which sample `sample` was taken.
    double clockAt(double sample) const;
    // The sample taken at system clock time `clockMs`.
    double sampleAt(double clockMs) const;
    // The monotonic clock time at which sample `sample` was taken.
    double monotonicAt(double sample) const;
    // The card's rate against the monotonic clock, in samples per second.
    double measuredRate() const;

    // How long a stretch is (its earliest delivery is kept), and how many are kept.
    static constexpr double StretchMs = 1000;
    static constexpr int Stretches = 600;
    // How far cards drift at most.
    static constexpr double MaxDrift = 500e-6;
    // Deliveries later than the line by more than LostMs for LostAfterMs are audio lost.
    static constexpr double LostMs = 40;
    static constexpr double LostAfterMs = 1000;
    // The system clock minus the monotonic clock moving by more than StepMs at once, beyond
    // the fastest slew (SlewPerMs: chrony slews at most 0.5 ms a second), is a step.
    static constexpr double StepMs = 2;
    static constexpr double SlewPerMs = 0.5e-3;
    // How long the system clock's offset is remembered (longer than audio is kept).
    static constexpr double OffsetsKeptMs = 20'000;

private:
    struct Point
    {
        double sample = 0;
        double lateMs = 0; // monotonic time minus the sample's time at the nominal rate
    };
    struct Offset
    {
        double monotonicMs = 0;
        double offsetMs = 0; // system clock minus monotonic clock
    };
    void fit();
    void restart(const Point &point, double monotonicMs);
    double lateAt(double sample) const { return m_intercept + m_slope * (sample - m_origin); }
    double offsetAt(double monotonicMs) const;
    std::optional<double> noteOffset(double monotonicMs, double clockMs);

    double m_msPerSample;
    bool m_valid = false;
    std::deque<Point> m_earliest; // the earliest delivery of each finished stretch
    std::optional<Point> m_current;
    double m_currentStartMs = 0;
    std::optional<double> m_behindSinceMs;
    double m_origin = 0;
    double m_intercept = 0;
    double m_slope = 0;
    std::deque<Offset> m_offsets;
    std::vector<Point> m_hull; // scratch
};

} // namespace Listen
