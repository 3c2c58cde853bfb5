// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioclock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Listen {

AudioClock::AudioClock(double nominalRate)
    : m_msPerSample(1000 / nominalRate)
{}

AudioClock::Observed AudioClock::observe(qint64 endSample, double monotonicMs, double clockMs)
{
    Observed observed;
    observed.clockStepMs = noteOffset(monotonicMs, clockMs);

    const Point point{double(endSample), monotonicMs - double(endSample) * m_msPerSample};
    // Deliveries late for a while are samples lost, not a stall that the next deliveries
    // make up for: the mapping starts again.
    if (m_valid && point.lateMs - lateAt(point.sample) > LostMs) {
        if (!m_behindSinceMs) {
            m_behindSinceMs = monotonicMs;
        } else if (monotonicMs - *m_behindSinceMs >= LostAfterMs) {
            restart(point, monotonicMs);
            observed.lost = true;
            return observed;
        }
    } else {
        m_behindSinceMs.reset();
    }

    if (!m_current) {
        m_current = point;
        m_currentStartMs = monotonicMs;
    } else if (point.lateMs < m_current->lateMs) {
        m_current = point;
    }
    if (monotonicMs - m_currentStartMs >= StretchMs) {
        m_earliest.push_back(*m_current);
        if (int(m_earliest.size()) > Stretches)
            m_earliest.pop_front();
        m_current.reset();
        fit();
    } else if (m_earliest.size() < 2) {
        fit();
    }
    return observed;
}

void AudioClock::restart(const Point &point, double monotonicMs)
{
    m_earliest.clear();
    m_current = point;
    m_currentStartMs = monotonicMs;
    m_behindSinceMs.reset();
    fit();
}

std::optional<double> AudioClock::noteOffset(double monotonicMs, double clockMs)
{
    const double offset = clockMs - monotonicMs;
    std::optional<double> step;
    if (!m_offsets.empty()) {
        const Offset &last = m_offsets.back();
        const double change = offset - last.offsetMs;
        const double elapsed = std::max(0.0, monotonicMs - last.monotonicMs);
        if (std::abs(change) > StepMs + SlewPerMs * elapsed) {
            step = change;
            // The audio already in is placed on the stepped clock as well.
            for (Offset &o : m_offsets)
                o.offsetMs += change;
        }
    }
    m_offsets.push_back({monotonicMs, offset});
    while (m_offsets.size() > 2 && monotonicMs - m_offsets.front().monotonicMs > OffsetsKeptMs)
        m_offsets.pop_front();
    return step;
}

double AudioClock::offsetAt(double monotonicMs) const
{
    if (m_offsets.empty())
        return 0;
    if (monotonicMs <= m_offsets.front().monotonicMs)
        return m_offsets.front().offsetMs;
    if (monotonicMs >= m_offsets.back().monotonicMs)
        return m_offsets.back().offsetMs;
    // Between two readings the system clock was slewed evenly.
    const auto after = std::upper_bound(
        m_offsets.cbegin(), m_offsets.cend(), monotonicMs, [](double ms, const Offset &o) {
            return ms < o.monotonicMs;
        });
    const Offset &b = *after;
    const Offset &a = *(after - 1);
    const double span = b.monotonicMs - a.monotonicMs;
    if (span <= 0)
        return b.offsetMs;
    return a.offsetMs + (b.offsetMs - a.offsetMs) * (monotonicMs - a.monotonicMs) / span;
}

void AudioClock::fit()
{
    if (m_earliest.empty()) {
        m_origin = m_current->sample;
        m_intercept = m_current->lateMs;
        m_slope = 0;
        m_valid = true;
        return;
    }
    // Samples counted from the first stretch, so that the sums stay exact over days. While
    // there is one stretch only, the stretch under way is a second point.
    m_origin = m_earliest.front().sample;
    const auto x = [this](const Point &p) {
        return p.sample - m_origin;
    };
    m_hull.clear();
    double sumX = 0;
    int count = 0;
    const auto add = [&](const Point &p) {
        sumX += x(p);
        ++count;
        // The lower hull: a point on or above the line from the one before it to p goes.
        while (m_hull.size() >= 2) {
            const Point &a = m_hull[m_hull.size() - 2];
            const Point &b = m_hull.back();
            if ((b.lateMs - a.lateMs) * (x(p) - x(a)) < (p.lateMs - a.lateMs) * (x(b) - x(a)))
                break;
            m_hull.pop_back();
        }
        m_hull.push_back(p);
    };
    for (const Point &p : m_earliest)
        add(p);
    if (m_earliest.size() < 2 && m_current)
        add(*m_current);

    // Of the lines under every point, the one closest to them all (the least sum of
    // distances) runs along the hull's edge above the points' mean.
    const double meanX = sumX / count;
    m_slope = 0;
    for (size_t k = 0; k + 1 < m_hull.size(); ++k) {
        const double dx = x(m_hull[k + 1]) - x(m_hull[k]);
        if (dx > 0 && x(m_hull[k + 1]) >= meanX) {
            m_slope = (m_hull[k + 1].lateMs - m_hull[k].lateMs) / dx;
            break;
        }
    }
    m_slope = std::clamp(m_slope, -MaxDrift * m_msPerSample, MaxDrift * m_msPerSample);
    m_intercept = std::numeric_limits<double>::max();
    for (const Point &p : m_hull)
        m_intercept = std::min(m_intercept, p.lateMs - m_slope * x(p));
    m_valid = true;
}

double AudioClock::monotonicAt(double sample) const
{
    return sample * m_msPerSample + lateAt(sample);
}

double AudioClock::clockAt(double sample) const
{
    const double monotonic = monotonicAt(sample);
    return monotonic + offsetAt(monotonic);
}

double AudioClock::sampleAt(double clockMs) const
{
    const double latest = m_offsets.empty() ? 0 : m_offsets.back().offsetMs;
    const double monotonic = clockMs - offsetAt(clockMs - latest);
    // monotonic = s * (msPerSample + slope) + intercept - slope * origin
    const double perSample = m_msPerSample + m_slope;
    return (monotonic - m_intercept + m_slope * m_origin) / perSample;
}

double AudioClock::measuredRate() const
{
    return 1000 / (m_msPerSample + m_slope);
}

} // namespace Listen
