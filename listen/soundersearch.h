// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "sounderfinder.h"

#include <QObject>
#include <QTimer>

namespace Listen {

// Finding the sounders that cross a parked dial: takes the chirps the capture hears, reports
// each sounder as it is found or heard again, and ends after the time given with the list.
class SounderSearch : public QObject
{
    Q_OBJECT

public:
    // The day is laid out from UTC midnight when utc, local midnight otherwise.
    SounderSearch(qint32 dialHz,
                  const QList<double> &periodsS,
                  double audioDelayMs,
                  bool utc,
                  QObject *parent = nullptr);

    // A chirp reached the dial at arrivalMs (ms since the epoch), heard best at that rate.
    void onHeard(double arrivalMs, double rateKhzPerS, double snrDb);
    // Ends once this many seconds have passed, with timeUp() after ended().
    void endAfter(double seconds);
    // Ends now, once: the chirps still unplaced are placed and ended() gives the list.
    void end();
    bool hasEnded() const { return m_ended; }

    qint32 dialHz() const { return m_dialHz; }
    int chirpsHeard() const { return m_finder.chirpsHeard(); }
    const QList<FoundSounder> &sounders() const { return m_finder.sounders(); }
    QString lineOf(const FoundSounder &sounder) const;
    // "2 sounders found:" and each sounder's line, each line ending in a newline.
    QString listText() const;

    // How long a chirp waits for a hearing of itself at another rate from the next block.
    static constexpr int SettleMs = 3000;

Q_SIGNALS:
    // A sounder was found or heard again: its line.
    void reported(const QString &line);
    void soundersChanged();
    void chirpsHeardChanged(int chirps);
    void ended(const QString &listText);
    void timeUp();

private:
    void report(const QList<int> &changed);

    qint32 m_dialHz;
    bool m_utc;
    SounderFinder m_finder;
    QTimer m_settle;
    QTimer m_end;
    bool m_ended = false;
};

} // namespace Listen
