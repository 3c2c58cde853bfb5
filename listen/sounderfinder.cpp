// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sounderfinder.h"

#include "chirpschedule.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace Listen {

namespace {

// The distance of a from b on a circle of the given length, -length/2 to length/2.
double around(double a, double b, double length)
{
    const double d = std::fmod(a - b, length);
    return d > length / 2 ? d - length : d < -length / 2 ? d + length : d;
}

// a mod length, 0 to length.
double wrapped(double a, double length)
{
    const double r = std::fmod(a, length);
    return r < 0 ? r + length : r;
}

// Hearings kept while they wait for a partner: past two of the longest periods they can find
// none.
constexpr int MostUnmatched = 2000;
// Hearings placed that a late hearing of the same chirp is compared with.
constexpr int PlacedKept = 8;
// How much further apart a sounder's hearings may lie at a shorter period (rounding only: at
// a period that explains them they lie exactly as far apart).
constexpr double ShorterSpreadMs = 1;

} // namespace

QList<double> candidatePeriods()
{
    return {60, 300, 450, 600, 720, 900, 1200, 1800, 3600};
}

QList<double> candidateRates()
{
    return {50, 82, 100, 125, 500.0084};
}

QString sounderLine(const FoundSounder &sounder, int hearingsToFind)
{
    QString line = QStringLiteral("sounder: period %1 s, chirptime %2 s, rate %3 kHz/s, snr %4 dB")
                       .arg(QString::number(sounder.periodS, 'g', 10),
                            QString::number(sounder.chirptimeS, 'f', 2),
                            QString::number(sounder.rateKhzPerS, 'g', 10),
                            QString::number(sounder.snrDb, 'f', 1));
    if (sounder.hearings > hearingsToFind)
        line += QStringLiteral(", heard %1 times within %2 ms")
                    .arg(sounder.hearings)
                    .arg(QString::number(sounder.spreadMs, 'f', 1));
    return line;
}

double wholeSecondChirptimeS(const FoundSounder &sounder)
{
    return wrapped(std::floor(sounder.chirptimeS + EarlyMs / 1000), sounder.periodS);
}

SounderFinder::SounderFinder(qint32 dialHz, const QList<double> &periodsS, double audioDelayMs)
    : m_dialHz(dialHz)
    , m_audioDelayMs(audioDelayMs)
{
    for (const double periodS : periodsS)
        m_periodsMs.append(periodS * 1000);
    std::sort(m_periodsMs.begin(), m_periodsMs.end(), std::greater<>());
}

QList<double> SounderFinder::periodsMsFor(double rateKhzPerS) const
{
    if (m_periodsMs.size() == 1)
        return m_periodsMs;
    QList<double> periods;
    for (const double periodMs : m_periodsMs) {
        // kHz per second are Hz per ms.
        if (periodMs * rateKhzPerS >= Tracking::SweepCeilingHz - 1)
            periods.append(periodMs);
    }
    return periods.isEmpty() ? m_periodsMs : periods;
}

double SounderFinder::chirptimeMs(const Hearing &hearing, double periodMs) const
{
    return wrapped(hearing.dayMs - m_audioDelayMs - m_dialHz / hearing.rateKhzPerS, periodMs);
}

QList<double> SounderFinder::chirptimesMs(const QList<Hearing> &hearings, double periodMs) const
{
    QList<double> times;
    for (const Hearing &hearing : hearings) {
        const double time = chirptimeMs(hearing, periodMs);
        times.append(times.isEmpty() ? time
                                     : times.first() + around(time, times.first(), periodMs));
    }
    return times;
}

bool SounderFinder::fits(const Hearing &hearing,
                         const QList<Hearing> &hearings,
                         double periodMs) const
{
    const QList<double> times = chirptimesMs(hearings, periodMs);
    const double mean = std::accumulate(times.cbegin(), times.cend(), 0.0) / double(times.size());
    return std::abs(around(chirptimeMs(hearing, periodMs), mean, periodMs)) < ToleranceMs;
}

void SounderFinder::describe(int index)
{
    const Track &track = m_tracks[index];
    const QList<double> times = chirptimesMs(track.hearings, track.periodMs);
    const double mean = std::accumulate(times.cbegin(), times.cend(), 0.0) / double(times.size());
    const auto [low, high] = std::minmax_element(times.cbegin(), times.cend());
    FoundSounder &sounder = m_sounders[index];
    sounder.periodS = track.periodMs / 1000;
    sounder.chirptimeS = wrapped(mean, track.periodMs) / 1000;
    sounder.rateKhzPerS = track.rateKhzPerS;
    sounder.snrDb = track.hearings.last().snrDb;
    sounder.hearings = int(track.hearings.size());
    sounder.spreadMs = *high - *low;
}

QList<int> SounderFinder::add(const Hearing &hearing)
{
    QList<int> changed;
    while (!m_unsettled.isEmpty()
           && hearing.arrivalMs - m_unsettled.first().arrivalMs >= SameChirpMs)
        changed += place(m_unsettled.takeFirst());

    const auto sameChirp = [&](double arrivalMs) {
        return std::abs(arrivalMs - hearing.arrivalMs) < SameChirpMs;
    };
    if (std::any_of(m_placedMs.cbegin(), m_placedMs.cend(), sameChirp))
        return changed;
    const auto byArrival = [](const Hearing &a, const Hearing &b) {
        return a.arrivalMs < b.arrivalMs;
    };
    const auto same = std::find_if(m_unsettled.cbegin(), m_unsettled.cend(), [&](const Hearing &h) {
        return sameChirp(h.arrivalMs);
    });
    if (same != m_unsettled.cend()) {
        // One chirp heard twice: at the rate it matches best.
        if (hearing.snrDb <= same->snrDb)
            return changed;
        m_unsettled.erase(same);
    } else {
        ++m_chirpsHeard;
    }
    m_unsettled.insert(
        std::upper_bound(m_unsettled.cbegin(), m_unsettled.cend(), hearing, byArrival), hearing);
    return changed;
}

QList<int> SounderFinder::settle()
{
    QList<int> changed;
    while (!m_unsettled.isEmpty())
        changed += place(m_unsettled.takeFirst());
    return changed;
}

QList<int> SounderFinder::place(const Hearing &hearing)
{
    m_placedMs.append(hearing.arrivalMs);
    if (m_placedMs.size() > PlacedKept)
        m_placedMs.removeFirst();
    const double rate = hearing.rateKhzPerS;

    // A chirp of a sounder found.
    for (int i = 0; i < m_tracks.size(); ++i) {
        Track &track = m_tracks[i];
        if (track.rateKhzPerS == rate && fits(hearing, track.hearings, track.periodMs)) {
            track.hearings.append(hearing);
            describe(i);
            return {i};
        }
    }

    // A chirp that a shorter period fits together with all of a sounder's hearings.
    const QList<double> periods = periodsMsFor(rate);
    for (int i = 0; i < m_tracks.size(); ++i) {
        const Track &track = m_tracks[i];
        if (track.rateKhzPerS != rate)
            continue;
        for (const double periodMs : periods) {
            if (periodMs >= track.periodMs)
                continue;
            const QList<double> times = chirptimesMs(track.hearings, periodMs);
            const auto [low, high] = std::minmax_element(times.cbegin(), times.cend());
            if (*high - *low <= m_sounders[i].spreadMs + ShorterSpreadMs
                && fits(hearing, track.hearings, periodMs))
                return {shorten(i, periodMs, hearing)};
        }
    }

    // A new sounder: the hearings at the same rate that wait for a partner and that one period
    // fits (none needed when only one period is tried). The period that fits the most of them,
    // and of those the longest.
    double bestPeriodMs = 0;
    QList<qsizetype> bestPartners;
    for (const double periodMs : periods) {
        const double time = chirptimeMs(hearing, periodMs);
        QList<qsizetype> partners;
        for (qsizetype j = 0; j < m_unmatched.size(); ++j) {
            const Hearing &waiting = m_unmatched[j];
            if (waiting.rateKhzPerS == rate
                && std::abs(around(chirptimeMs(waiting, periodMs), time, periodMs)) < ToleranceMs)
                partners.append(j);
        }
        if (partners.size() + 1 >= hearingsToFind()
            && (bestPeriodMs == 0 || partners.size() > bestPartners.size())) {
            bestPeriodMs = periodMs;
            bestPartners = partners;
        }
    }
    if (bestPeriodMs == 0) {
        m_unmatched.append(hearing);
        if (m_unmatched.size() > MostUnmatched)
            m_unmatched.removeFirst();
        return {};
    }
    Track track{bestPeriodMs, rate, {}};
    for (auto j = bestPartners.crbegin(); j != bestPartners.crend(); ++j)
        track.hearings.prepend(m_unmatched.takeAt(*j));
    track.hearings.append(hearing);
    m_tracks.append(track);
    m_sounders.append(FoundSounder());
    describe(int(m_tracks.size()) - 1);
    return {int(m_tracks.size()) - 1};
}

int SounderFinder::shorten(int index, double periodMs, const Hearing &hearing)
{
    const double rate = hearing.rateKhzPerS;
    m_tracks[index].periodMs = periodMs;
    m_tracks[index].hearings.append(hearing);
    // What else the shorter period explains is this sounder too: hearings still waiting for a
    // partner, and sounders found at a longer period.
    for (qsizetype j = m_unmatched.size() - 1; j >= 0; --j) {
        if (m_unmatched[j].rateKhzPerS == rate
            && fits(m_unmatched[j], m_tracks[index].hearings, periodMs))
            m_tracks[index].hearings.append(m_unmatched.takeAt(j));
    }
    for (int j = int(m_tracks.size()) - 1; j >= 0; --j) {
        const QList<Hearing> &others = m_tracks[j].hearings;
        if (j == index || m_tracks[j].rateKhzPerS != rate
            || !std::all_of(others.cbegin(), others.cend(), [&](const Hearing &h) {
                   return fits(h, m_tracks[index].hearings, periodMs);
               }))
            continue;
        m_tracks[index].hearings += others;
        m_tracks.removeAt(j);
        m_sounders.removeAt(j);
        if (j < index)
            --index;
    }
    std::sort(m_tracks[index].hearings.begin(),
              m_tracks[index].hearings.end(),
              [](const Hearing &a, const Hearing &b) { return a.arrivalMs < b.arrivalMs; });
    describe(index);
    return index;
}

} // namespace Listen
