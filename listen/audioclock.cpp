// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioclock.h"

#include <algorithm>
#include <cmath>

namespace Listen {

AudioClock::AudioClock(double nominalRate)
    : m_msPerSample(1000 / nominalRate)
{}

bool AudioClock::observe(qint64 endSample, double clockMs)
{
    const Point point{double(endSample), clockMs - double(endSample) * m_msPerSample};
    // Deliveries late for a while are samples lost, not a stall that the next deliveries
    // make up for: the mapping starts again.
    if (m_valid && point.lateMs - lateAt(point.sample) > LostMs) {
        if (!m_behindSinceMs) {
            m_behindSinceMs = clockMs;
        } else if (clockMs - *m_behindSinceMs >= LostAfterMs) {
            m_earliest.clear();
            m_current = point;
            m_currentStartMs = clockMs;
            m_behindSinceMs.reset();
            fit();
            return false;
        }
    } else {
        m_behindSinceMs.reset();
    }

    if (!m_current) {
        m_current = point;
        m_currentStartMs = clockMs;
    } else if (point.lateMs < m_current->lateMs) {
        m_current = point;
    }
    if (clockMs - m_currentStartMs >= StretchMs) {
        m_earliest.push_back(*m_current);
        if (int(m_earliest.size()) > Stretches)
            m_earliest.pop_front();
        m_current.reset();
        fit();
    } else if (m_earliest.size() < 2) {
        fit();
    }
    return true;
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
    // Samples counted from the first stretch, so that the sums stay exact over days.
    m_origin = m_earliest.front().sample;
    m_slope = 0;
    m_intercept = 0;
    // Twice: the second time without the stretches whose earliest delivery was still late
    // (a busy machine), so that the line keeps to the lower edge.
    for (int pass = 0; pass < 2; ++pass) {
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const Point &p : m_earliest) {
            const double x = p.sample - m_origin;
            if (pass > 0 && p.lateMs - (m_intercept + m_slope * x) > JitterMs)
                continue;
            n += 1;
            sx += x;
            sy += p.lateMs;
            sxx += x * x;
            sxy += x * p.lateMs;
        }
        if (n == 0)
            break;
        // Over a short span the deliveries' jitter would tilt the line further than cards
        // drift: the slope is drawn towards the nominal rate by as much as the jitter
        // (JitterMs) outweighs a typical drift (TypicalDrift), and believed within MaxDrift.
        const double spreadX = sxx - sx * sx / n;
        const double prior = (JitterMs * JitterMs) / std::pow(TypicalDrift * m_msPerSample, 2);
        m_slope = (sxy - sx * sy / n) / (spreadX + prior);
        m_slope = std::clamp(m_slope, -MaxDrift * m_msPerSample, MaxDrift * m_msPerSample);
        m_intercept = (sy - m_slope * sx) / n;
    }
    m_valid = true;
}

double AudioClock::clockAt(double sample) const
{
    return sample * m_msPerSample + lateAt(sample);
}

double AudioClock::sampleAt(double clockMs) const
{
    // clockMs = s * (msPerSample + slope) + intercept - slope * origin
    const double perSample = m_msPerSample + m_slope;
    return (clockMs - m_intercept + m_slope * m_origin) / perSample;
}

double AudioClock::measuredRate() const
{
    return 1000 / (m_msPerSample + m_slope);
}

} // namespace Listen
