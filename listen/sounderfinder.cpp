// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sounderfinder.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace Listen {

namespace {

// The distance of a from b on a circle of the given length, -length/2 to length/2.
double around(double a, double b, double length)
{
    const double d = std::fmod(a - b, length);
    return d > length / 2 ? d - length : d < -length / 2 ? d + length : d;
}

// Hearings of one chirp are this long at most: its echoes, and block edges.
constexpr double SameChirpMs = 100;
// Hearings kept while they wait for a partner: past two of the longest periods they can find
// none.
constexpr int MostUnmatched = 2000;

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

SounderFinder::SounderFinder(qint32 dialHz, const QList<double> &periodsS, double audioDelayMs)
    : m_dialHz(dialHz)
    , m_periods(periodsS)
    , m_audioDelayMs(audioDelayMs)
{}

double SounderFinder::chirptimeMs(const Hearing &hearing, double periodMs) const
{
    const double start = hearing.dayMs - m_audioDelayMs - m_dialHz / hearing.rateKhzPerS;
    const double wrapped = std::fmod(start, periodMs);
    return wrapped < 0 ? wrapped + periodMs : wrapped;
}

void SounderFinder::join(int index, const Hearing &hearing, double chirptime)
{
    FoundSounder &sounder = m_sounders[index];
    QList<double> &times = m_chirptimes[index];
    const double periodMs = sounder.periodS * 1000;
    times.append(times.first() + around(chirptime, times.first(), periodMs));
    const double mean = std::accumulate(times.cbegin(), times.cend(), 0.0) / times.size();
    const auto [low, high] = std::minmax_element(times.cbegin(), times.cend());
    sounder.chirptimeS = std::fmod(std::fmod(mean, periodMs) + periodMs, periodMs) / 1000;
    sounder.spreadMs = *high - *low;
    sounder.hearings = int(times.size());
    sounder.snrDb = hearing.snrDb;
}

int SounderFinder::add(const Hearing &hearing)
{
    const auto sameChirp = [&](double arrivalMs, double rate) {
        return rate == hearing.rateKhzPerS && std::abs(arrivalMs - hearing.arrivalMs) < SameChirpMs;
    };
    // The same chirp again (another echo, a block's edge) is not heard twice.
    for (int i = 0; i < m_sounders.size(); ++i) {
        if (sameChirp(m_lastArrivalMs[i], m_sounders[i].rateKhzPerS))
            return -1;
    }
    if (std::any_of(m_unmatched.cbegin(), m_unmatched.cend(), [&](const Hearing &h) {
            return sameChirp(h.arrivalMs, h.rateKhzPerS);
        }))
        return -1;

    // A chirp of a sounder already found.
    for (int i = 0; i < m_sounders.size(); ++i) {
        const FoundSounder &sounder = m_sounders[i];
        if (sounder.rateKhzPerS != hearing.rateKhzPerS)
            continue;
        const double periodMs = sounder.periodS * 1000;
        const double chirptime = chirptimeMs(hearing, periodMs);
        if (std::abs(around(chirptime, sounder.chirptimeS * 1000, periodMs)) < ToleranceMs) {
            join(i, hearing, chirptime);
            m_lastArrivalMs[i] = hearing.arrivalMs;
            return i;
        }
    }

    // A new sounder: a hearing at the same rate one period before (or none needed, when
    // only one period is tried).
    for (const double periodS : m_periods) {
        const double periodMs = periodS * 1000;
        const auto partner
            = std::find_if(m_unmatched.cbegin(), m_unmatched.cend(), [&](const Hearing &h) {
                  return h.rateKhzPerS == hearing.rateKhzPerS
                         && std::abs(hearing.arrivalMs - h.arrivalMs - periodMs) < ToleranceMs;
              });
        if (hearingsToFind() > 1 && partner == m_unmatched.cend())
            continue;
        FoundSounder sounder;
        sounder.periodS = periodS;
        sounder.rateKhzPerS = hearing.rateKhzPerS;
        m_sounders.append(sounder);
        m_chirptimes.append(QList<double>());
        m_lastArrivalMs.append(hearing.arrivalMs);
        const int index = int(m_sounders.size()) - 1;
        if (partner != m_unmatched.cend()) {
            m_chirptimes[index].append(chirptimeMs(*partner, periodMs));
            m_unmatched.erase(partner);
            join(index, hearing, chirptimeMs(hearing, periodMs));
        } else {
            m_chirptimes[index].append(chirptimeMs(hearing, periodMs));
            FoundSounder &found = m_sounders[index];
            found.chirptimeS = m_chirptimes[index].first() / 1000;
            found.hearings = 1;
            found.snrDb = hearing.snrDb;
        }
        return index;
    }

    m_unmatched.append(hearing);
    if (m_unmatched.size() > MostUnmatched)
        m_unmatched.removeFirst();
    return -1;
}

} // namespace Listen
