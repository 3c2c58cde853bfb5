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

// The whole second, from the period's start, at which the sounder starts its sweep: sounders
// start on a whole second, and what a hearing adds (the path's and the sound path's delay)
// is positive and under EarlyMs short of a second; a hearing up to EarlyMs early (the
// clock's jitter) still counts for the second after.
double wholeSecondChirptimeS(const FoundSounder &sounder);
inline constexpr double EarlyMs = 100;

// Finds sounders in the chirps heard at a parked dial, with chirptime = (the day time of a
// chirp's arrival - audio delay - dial / rate) mod period. Hearings of one chirp at several
// rates (arrivals less than SameChirpMs apart) are one hearing at the rate heard best; a
// hearing is placed once no other hearing of its chirp can follow (a hearing SameChirpMs
// later, or settle()).
//
// Periods: a sounder's hearings at one rate, whole periods apart (chirps missed between them
// are common), give its period as the longest period tried that fits them all. A hearing that
// a shorter period fits and the longer one does not turns the sounder into the shorter one,
// together with the hearings waiting for a partner and any other sounder that the shorter
// period explains; the same hearings never make two sounders. A period is tried for a rate
// only when a sweep from 0 to 30 MHz at that rate fits into it (300 s at 100 kHz/s, 60 s at
// 500 kHz/s), since a sounder sweeps once a period; so a 60 s period, which divides every
// other, is never taken for a 100 kHz/s sounder. Sounders of one rate whose chirps are a
// whole number of a shorter period apart are one sounder of that period to the finder.
class SounderFinder
{
public:
    SounderFinder(qint32 dialHz, const QList<double> &periodsS, double audioDelayMs = 0);

    // Takes one hearing; returns the indices of the sounders found or heard again.
    QList<int> add(const Hearing &hearing);
    // Places the hearings still waiting for one of the same chirp; returns as add() does.
    QList<int> settle();
    bool hasUnsettled() const { return !m_unsettled.isEmpty(); }

    const QList<FoundSounder> &sounders() const { return m_sounders; }
    // Chirps heard, each once.
    int chirpsHeard() const { return m_chirpsHeard; }
    int hearingsToFind() const { return m_periodsMs.size() == 1 ? 1 : 2; }

    // How close a hearing's chirptime must lie to a sounder's.
    static constexpr double ToleranceMs = 50;
    // Hearings of one chirp are this close at most: its echoes, its likeness at other rates,
    // and the scanner's blocks' edges.
    static constexpr double SameChirpMs = 100;

private:
    struct Track
    {
        double periodMs = 0;
        double rateKhzPerS = 0;
        QList<Hearing> hearings; // by arrival
    };

    QList<double> periodsMsFor(double rateKhzPerS) const;
    double chirptimeMs(const Hearing &hearing, double periodMs) const;
    // The hearings' chirptimes, unwrapped around the first's (ms).
    QList<double> chirptimesMs(const QList<Hearing> &hearings, double periodMs) const;
    bool fits(const Hearing &hearing, const QList<Hearing> &hearings, double periodMs) const;
    void describe(int index);
    QList<int> place(const Hearing &hearing);
    int shorten(int index, double periodMs, const Hearing &hearing);

    qint32 m_dialHz;
    QList<double> m_periodsMs; // longest first
    double m_audioDelayMs;
    QList<Hearing> m_unsettled; // by arrival
    QList<double> m_placedMs;   // the last hearings placed
    QList<Hearing> m_unmatched;
    QList<Track> m_tracks;
    QList<FoundSounder> m_sounders; // one for each track
    int m_chirpsHeard = 0;
};

} // namespace Listen

Q_DECLARE_METATYPE(Listen::Hearing)
Q_DECLARE_METATYPE(Listen::FoundSounder)
