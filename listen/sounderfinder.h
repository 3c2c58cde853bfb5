// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

namespace Listen {

// A chirp heard crossing the parked dial: when it reached the dial (ms since the epoch, and
// ms since midnight in the time base the day is laid out in), at which rate, how strongly.
struct Hearing
{
    double arrivalMs = 0;
    double dayMs = 0;
    double rateKhzPerS = 0;
    double snrDb = 0;
};

// A sounder whose timing the hearings give.
struct FoundSounder
{
    double periodS = 0;
    double chirptimeS = 0; // the mean of its hearings'
    double rateKhzPerS = 0;
    double snrDb = 0; // of the last hearing
    int hearings = 0;
    double spreadMs = 0; // how far its hearings' chirptimes lie apart
};

// The periods and rates the finder tries, from the public lists.
QList<double> candidatePeriods();
QList<double> candidateRates();

// "sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB", and for more
// hearings than found it, how many and how far apart.
QString sounderLine(const FoundSounder &sounder, int hearingsToFind);

// Finds sounders in the chirps heard at a parked dial: a chirp heard twice one period apart
// (once, when only one period is tried) is a sounder, with chirptime = (the day time of its
// arrival - dial / rate) mod period. Later hearings that fit a sounder's schedule update it.
class SounderFinder
{
public:
    SounderFinder(qint32 dialHz, const QList<double> &periodsS, double audioDelayMs = 0);

    // Takes one hearing; returns the index of the sounder it found or updated, or -1.
    int add(const Hearing &hearing);

    const QList<FoundSounder> &sounders() const { return m_sounders; }
    int hearingsToFind() const { return m_periods.size() == 1 ? 1 : 2; }

    // How close two hearings' times must fit a period, or a sounder's schedule.
    static constexpr double ToleranceMs = 50;

private:
    double chirptimeMs(const Hearing &hearing, double periodMs) const;
    void join(int index, const Hearing &hearing, double chirptimeMs);

    qint32 m_dialHz;
    QList<double> m_periods;
    double m_audioDelayMs;
    QList<Hearing> m_unmatched;
    QList<FoundSounder> m_sounders;
    QList<QList<double>> m_chirptimes; // each sounder's hearings, unwrapped near its first
    QList<double> m_lastArrivalMs;     // each sounder's last hearing
};

} // namespace Listen

Q_DECLARE_METATYPE(Listen::Hearing)
Q_DECLARE_METATYPE(Listen::FoundSounder)
