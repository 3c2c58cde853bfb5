// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "soundersearch.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Listen {

SounderSearch::SounderSearch(
    qint32 dialHz, const QList<double> &periodsS, double audioDelayMs, bool utc, QObject *parent)
    : QObject(parent)
    , m_dialHz(dialHz)
    , m_utc(utc)
    , m_finder(dialHz, periodsS, audioDelayMs)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] { report(m_finder.settle()); });
    m_end.setSingleShot(true);
    connect(&m_end, &QTimer::timeout, this, [this] {
        end();
        Q_EMIT timeUp();
    });
}

void SounderSearch::onHeard(double arrivalMs, double rateKhzPerS, double snrDb)
{
    if (m_ended)
        return;
    // The arrival's time of day in the time base the tuning counts in.
    const qint64 wholeMs = qint64(std::floor(arrivalMs));
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(wholeMs, m_utc ? Qt::UTC : Qt::LocalTime);
    const double dayMs = double(when.time().msecsSinceStartOfDay()) + (arrivalMs - double(wholeMs));
    const int chirps = m_finder.chirpsHeard();
    report(m_finder.add({arrivalMs, dayMs, rateKhzPerS, snrDb}));
    if (m_finder.hasUnsettled())
        m_settle.start();
    if (m_finder.chirpsHeard() != chirps)
        Q_EMIT chirpsHeardChanged(m_finder.chirpsHeard());
}

void SounderSearch::endAfter(double seconds)
{
    m_end.start(int(std::min(seconds * 1000, double(std::numeric_limits<int>::max()))));
}

void SounderSearch::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_settle.stop();
    m_end.stop();
    report(m_finder.settle());
    Q_EMIT ended(listText());
}

QString SounderSearch::lineOf(const FoundSounder &sounder) const
{
    return sounderLine(sounder, m_finder.hearingsToFind());
}

QString SounderSearch::listText() const
{
    QString text = QStringLiteral("%1 sounders found:\n").arg(sounders().size());
    for (const FoundSounder &sounder : sounders())
        text += lineOf(sounder) + u'\n';
    return text;
}

void SounderSearch::report(const QList<int> &changed)
{
    if (changed.isEmpty())
        return;
    for (const int index : changed) {
        if (index < sounders().size())
            Q_EMIT reported(lineOf(sounders()[index]));
    }
    Q_EMIT soundersChanged();
}

} // namespace Listen
