// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <deque>
#include <optional>

namespace Listen {

// Maps the sound card's sample count to the program's clock (ms since the epoch), and keeps
// the mapping right while the card's clock drifts: a card 50 ppm off is 180 ms off an hour.
// Each block of audio is seen when it is delivered, never before the card sampled it and
// often later; the earliest deliveries of each stretch of a few seconds bound the mapping,
// and a straight line through them over the last ten minutes gives the rate and the offset.
class AudioClock
{
public:
    explicit AudioClock(double nominalRate);

    // Audio up to (not including) sample `endSample` was delivered at `clockMs`. Returns
    // false when the audio lost samples against the clock (an overrun, a stall of the
    // sound server): the mapping then starts again from this delivery.
    bool observe(qint64 endSample, double clockMs);

    bool isValid() const { return m_valid; }
    // The clock time at which sample `sample` was taken.
    double clockAt(double sample) const;
    // The sample taken at `clockMs`.
    double sampleAt(double clockMs) const;
    // The card's rate against the clock, in samples per second.
    double measuredRate() const;

    // How long a stretch is, and how many stretches the line is drawn through.
    static constexpr double StretchMs = 2000;
    static constexpr int Stretches = 300;
    // How far the earliest deliveries scatter, how far cards typically drift and at most.
    static constexpr double JitterMs = 0.5;
    static constexpr double TypicalDrift = 50e-6;
    static constexpr double MaxDrift = 500e-6;
    // Deliveries later than the line by more than LostMs for LostAfterMs are audio lost.
    static constexpr double LostMs = 40;
    static constexpr double LostAfterMs = 1000;

private:
    struct Point
    {
        double sample = 0;
        double lateMs = 0; // clock time minus the sample's time at the nominal rate
    };
    void fit();
    double lateAt(double sample) const { return m_intercept + m_slope * (sample - m_origin); }

    double m_msPerSample;
    bool m_valid = false;
    std::deque<Point> m_earliest; // the earliest delivery of each finished stretch
    std::optional<Point> m_current;
    double m_currentStartMs = 0;
    std::optional<double> m_behindSinceMs;
    double m_origin = 0;
    double m_intercept = 0;
    double m_slope = 0;
};

} // namespace Listen
