// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sweepscaling.h"

#include "chirpschedule.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace Listen {

namespace {

// Echoes link into a trace across gaps of up to this many Hz (a sounder skipping
// protected frequencies, a step that fades), when within LinkMs of where the trace points,
// plus LinkPerGapStepMs for every step missed.
constexpr qint32 LinkGapHz = 500'000;
constexpr double LinkMs = 0.4;
constexpr double LinkPerGapStepMs = 0.1;
// A trace's slope counts for no more than this per step: a steeper one is two echoes of
// different traces linked.
constexpr double MaxSlopeMsPerStep = 1.0;
// Fewer points than this are noise; a trace needs RealPoints points, heard on at least
// RealShare of the steps it spans, to be followed.
constexpr int NoisePoints = 3;
constexpr int RealPoints = 5;
constexpr double RealShare = 0.5;
// A sweep with fewer steps heard is not scaled.
constexpr int FewestStepsHeard = 5;
// Two hops lie at least this much later than one hop where both are heard, and end at least
// TwoHopBelowHz, and at most TwoHopShare of the one-hop MOF, below it (a later trace ending
// near it is its high ray, or the ordinary wave's below the extraordinary). Two hops over a
// path are one hop over half of it, whose MOF is at most some 0.83 of the whole path's for
// the F layer, even on a path of 500 km. F's one hop lies up to some 0.8 ms after E's (on
// paths of 500 to 2,000 km), two hops 0.9 ms or more after one (up to some 2,000 km; on
// longer paths they lie closer, and are not told apart).
constexpr double TwoHopLaterMs = 0.9;
constexpr qint32 TwoHopBelowHz = 1'000'000;
constexpr double TwoHopShare = 0.85;
// Two hops are heard from low frequencies up, as one hop is; a later trace that begins above
// this share of the one-hop MOF is pieces of high rays near the nose.
constexpr double TwoHopBottomShare = 0.6;
// Two hops are heard over some MHz below their MOF; a shorter later piece is two hops where
// they part from one hop's trace, their top hidden in it.
constexpr qint32 TwoHopSpanHz = 3'000'000;
// A trace whose delay falls by more than this from its first to its last points is a high
// ray: one hop's, however far below the MOF it breaks off.
constexpr double FallingMs = 0.3;

struct Point
{
    qint32 hz;
    double delayMs;
};

struct Trace
{
    QList<Point> points; // by rising frequency
    qint32 bottomHz() const { return points.front().hz; }
    qint32 topHz() const { return points.back().hz; }
    int spannedSteps() const { return (topHz() - bottomHz()) / Tracking::SweepStepHz + 1; }
    bool isReal() const
    {
        return points.size() >= RealPoints && points.size() >= RealShare * spannedSteps();
    }
    // Whether its delay falls as the frequency rises, as a high ray's does on its way to the
    // nose (a low ray's, one hop's or two's, rises): its last points against its first.
    bool falls() const
    {
        const qsizetype ends = std::min<qsizetype>(3, points.size() / 2);
        double first = 0, last = 0;
        for (qsizetype i = 0; i < ends; ++i) {
            first += points[i].delayMs;
            last += points[points.size() - 1 - i].delayMs;
        }
        return ends > 0 && (first - last) / double(ends) > FallingMs;
    }
    std::optional<double> delayAt(qint32 hz) const
    {
        for (const Point &p : points) {
            if (p.hz == hz)
                return p.delayMs;
        }
        return std::nullopt;
    }
    // Where the trace would be at hz, from its last points.
    double predictedMs(qint32 hz) const
    {
        const Point &last = points.back();
        if (points.size() < 2)
            return last.delayMs;
        const Point &before = points[points.size() - 2];
        const double slope
            = std::clamp((last.delayMs - before.delayMs)
                             / ((last.hz - before.hz) / double(Tracking::SweepStepHz)),
                         -MaxSlopeMsPerStep,
                         MaxSlopeMsPerStep);
        return last.delayMs + slope * (hz - last.hz) / double(Tracking::SweepStepHz);
    }
};

// The echoes linked step by step into traces: each echo joins the trace that points
// closest to it, each trace takes one echo a step, and an echo no trace takes begins one.
QList<Trace> linkTraces(QList<SweepStep> steps)
{
    std::sort(steps.begin(), steps.end(), [](const SweepStep &a, const SweepStep &b) {
        return a.frequencyHz < b.frequencyHz;
    });
    QList<Trace> traces;
    QList<qsizetype> open; // the traces an echo may still join
    for (const SweepStep &step : steps) {
        open.removeIf(
            [&](qsizetype t) { return step.frequencyHz - traces[t].topHz() > LinkGapHz; });
        struct Candidate
        {
            double cost;
            qsizetype trace;
            qsizetype echo;
        };
        QList<Candidate> candidates;
        for (const qsizetype t : std::as_const(open)) {
            const qint32 gapHz = step.frequencyHz - traces[t].topHz();
            if (gapHz <= 0)
                continue;
            const double missed = gapHz / double(Tracking::SweepStepHz) - 1;
            const double predicted = traces[t].predictedMs(step.frequencyHz);
            for (qsizetype e = 0; e < step.delaysMs.size(); ++e) {
                const double off = std::abs(step.delaysMs[e] - predicted);
                if (off <= LinkMs + LinkPerGapStepMs * missed)
                    candidates.append({off + LinkPerGapStepMs * missed, t, e});
            }
        }
        std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
            return a.cost < b.cost;
        });
        QList<bool> echoTaken(step.delaysMs.size(), false);
        QList<qsizetype> tracesTaken;
        for (const Candidate &c : std::as_const(candidates)) {
            if (echoTaken[c.echo] || tracesTaken.contains(c.trace))
                continue;
            echoTaken[c.echo] = true;
            tracesTaken.append(c.trace);
            traces[c.trace].points.append({step.frequencyHz, step.delaysMs[c.echo]});
        }
        for (qsizetype e = 0; e < step.delaysMs.size(); ++e) {
            if (!echoTaken[e]) {
                open.append(traces.size());
                traces.append(Trace{{{step.frequencyHz, step.delaysMs[e]}}});
            }
        }
    }
    return traces;
}

// How much later `later` lies than `earlier` where both are heard (the median), none when
// they share fewer than two steps.
std::optional<double> lateness(const Trace &later, const Trace &earlier)
{
    QList<double> differences;
    for (const Point &p : later.points) {
        if (const auto delay = earlier.delayAt(p.hz))
            differences.append(p.delayMs - *delay);
    }
    if (differences.size() < 2)
        return std::nullopt;
    std::sort(differences.begin(), differences.end());
    const qsizetype n = differences.size();
    return n % 2 ? differences[n / 2] : (differences[n / 2 - 1] + differences[n / 2]) / 2;
}

// The highest step of the traces and the earliest delay there.
ModeReading topOf(const QList<const Trace *> &traces)
{
    ModeReading reading;
    for (const Trace *trace : traces) {
        const Point &top = trace->points.back();
        if (top.hz > reading.mofHz || (top.hz == reading.mofHz && top.delayMs < reading.delayMs))
            reading = {top.hz, top.delayMs};
    }
    return reading;
}

// A number as a user writes it: the fewest digits that read back the same, no exponent.
QByteArray plain(double value)
{
    return QByteArray::number(value, 'f', QLocale::FloatingPointShortest);
}

// An optional number field: empty, or a finite number.
bool readOptional(const QByteArray &field, std::optional<double> &value)
{
    if (field.isEmpty())
        return true;
    bool ok = false;
    const double number = field.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return false;
    value = number;
    return true;
}

// A mode's two fields: both empty, or a frequency in Hz and a delay.
bool readMode(const QByteArray &hzField,
              const QByteArray &delayField,
              std::optional<ModeReading> &mode)
{
    if (hzField.isEmpty() && delayField.isEmpty())
        return true;
    bool hzOk = false, delayOk = false;
    const qint32 hz = hzField.toInt(&hzOk);
    const double delay = delayField.toDouble(&delayOk);
    if (!hzOk || !delayOk || hz <= 0 || !std::isfinite(delay))
        return false;
    mode = ModeReading{hz, delay};
    return true;
}

} // namespace

SweepScale scaleSweep(std::span<const SweepStep> steps)
{
    SweepScale scale;
    // A step measured twice (a restart within the sweep) counts once, as measured last.
    QList<SweepStep> unique;
    QHash<qint32, qsizetype> places; // by frequency
    for (const SweepStep &step : steps) {
        const auto place = places.constFind(step.frequencyHz);
        if (place != places.cend()) {
            unique[*place] = step;
        } else {
            places.insert(step.frequencyHz, unique.size());
            unique.append(step);
        }
    }
    scale.stepsMeasured = int(unique.size());
    scale.stepsHeard = int(std::count_if(
        unique.cbegin(), unique.cend(), [](const SweepStep &s) { return !s.delaysMs.isEmpty(); }));
    if (scale.stepsHeard < FewestStepsHeard)
        return scale;

    QList<Trace> traces = linkTraces(unique);
    traces.removeIf([](const Trace &t) { return t.points.size() < NoisePoints; });
    if (traces.isEmpty())
        return scale;
    // The highest trace is one hop; when it cannot be followed, neither can the MOF.
    std::stable_sort(traces.begin(), traces.end(), [](const Trace &a, const Trace &b) {
        return a.topHz() > b.topHz();
    });
    if (!traces.front().isReal())
        return scale;
    traces.removeIf([](const Trace &t) { return !t.isReal(); });

    const qint32 mofHz = traces.front().topHz();
    QList<const Trace *> oneHop, twoHops;
    for (const Trace &trace : std::as_const(traces)) {
        // Later than one hop's trace, and beside none: a trace alongside one hop's (the
        // ordinary wave beside the extraordinary) is one hop too.
        bool later = false, beside = false;
        for (const Trace *one : std::as_const(oneHop)) {
            const auto by = lateness(trace, *one);
            later = later || (by && *by >= TwoHopLaterMs);
            beside = beside || (by && std::abs(*by) < TwoHopLaterMs);
        }
        if (later && !beside && trace.topHz() <= mofHz - TwoHopBelowHz
            && trace.topHz() <= TwoHopShare * mofHz && trace.bottomHz() <= TwoHopBottomShare * mofHz
            && trace.topHz() - trace.bottomHz() >= TwoHopSpanHz && !trace.falls())
            twoHops.append(&trace);
        else
            oneHop.append(&trace);
    }
    scale.oneHop = topOf(oneHop);
    if (!twoHops.isEmpty())
        scale.twoHop = topOf(twoHops);
    qint32 lowest = mofHz;
    for (const Trace *trace : std::as_const(oneHop))
        lowest = std::min(lowest, trace->bottomHz());
    scale.lowestHz = lowest;
    return scale;
}

QString summaryFileName(QDate utcDay)
{
    return utcDay.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("-summary.csv");
}

QString dayPlotFileName(QDate utcDay)
{
    return utcDay.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("-mof.png");
}

QByteArray summaryHeader()
{
    return QByteArrayLiteral("time_utc,period_s,chirptime_s,rate_khz_s,mof_hz,mof_delay_ms,"
                             "mof2_hz,mof2_delay_ms,steps_heard,steps_measured\n");
}

QByteArray summaryRow(const SweepSummary &summary)
{
    const auto optional = [](const std::optional<double> &value) {
        return value ? plain(*value) : QByteArray();
    };
    const auto mode = [](const std::optional<ModeReading> &reading) {
        return reading ? QByteArray::number(reading->mofHz) + ','
                             + QByteArray::number(reading->delayMs, 'f', 2)
                       : QByteArray(",");
    };
    const SweepScale &s = summary.scale;
    return QDateTime::fromMSecsSinceEpoch(summary.sweepStartMs, Qt::UTC)
               .toString(Qt::ISODateWithMs)
               .toLatin1()
           + ',' + optional(summary.periodS) + ',' + optional(summary.chirptimeS) + ','
           + optional(summary.rateKhzPerS) + ',' + mode(s.oneHop) + ',' + mode(s.twoHop) + ','
           + QByteArray::number(s.stepsHeard) + ',' + QByteArray::number(s.stepsMeasured) + '\n';
}

std::optional<SweepSummary> summaryFromRow(const QByteArray &row)
{
    const QList<QByteArray> fields = row.trimmed().split(',');
    if (fields.size() != 10)
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs);
    if (!time.isValid() || !fields[0].endsWith('Z'))
        return std::nullopt;
    SweepSummary summary;
    summary.sweepStartMs = time.toMSecsSinceEpoch();
    SweepScale &s = summary.scale;
    bool heardOk = false, measuredOk = false;
    s.stepsHeard = fields[8].toInt(&heardOk);
    s.stepsMeasured = fields[9].toInt(&measuredOk);
    if (!readOptional(fields[1], summary.periodS) || !readOptional(fields[2], summary.chirptimeS)
        || !readOptional(fields[3], summary.rateKhzPerS)
        || !readMode(fields[4], fields[5], s.oneHop) || !readMode(fields[6], fields[7], s.twoHop)
        || !heardOk || !measuredOk || s.stepsHeard < 0 || s.stepsHeard > s.stepsMeasured
        || (s.twoHop && !s.oneHop))
        return std::nullopt;
    return summary;
}

QStringList openBands(const SweepScale &scale)
{
    QStringList open;
    if (!scale.oneHop || !scale.lowestHz)
        return open;
    for (const AmateurBand &band : AmateurBands) {
        if (*scale.lowestHz <= band.topHz && scale.oneHop->mofHz >= band.bottomHz)
            open.append(QString::fromLatin1(band.metres));
    }
    return open;
}

QString sweepSummaryText(const SweepSummary &summary)
{
    const QString when = QDateTime::fromMSecsSinceEpoch(summary.sweepStartMs, Qt::UTC)
                             .toString(QStringLiteral("HH:mm"));
    const SweepScale &s = summary.scale;
    if (!s.oneHop)
        return QStringLiteral("Sweep of %1 UTC: too few echoes to read a MOF (%2 of %3 steps "
                              "heard).")
            .arg(when)
            .arg(s.stepsHeard)
            .arg(s.stepsMeasured);
    const QStringList open = openBands(s);
    return QStringLiteral("Sweep of %1 UTC: MOF %2 MHz (%3 ms); open: %4")
        .arg(when,
             QString::number(s.oneHop->mofHz / 1e6, 'f', 1),
             QString::number(s.oneHop->delayMs, 'f', 2),
             open.isEmpty() ? QStringLiteral("none")
                            : open.join(QStringLiteral(", ")) + QStringLiteral(" m"));
}

std::variant<QList<SweepStep>, QString> readSweepCsv(QIODevice &file)
{
    const QByteArray header = file.readLine();
    if (header.isEmpty())
        return QStringLiteral("it is empty, without even the header line");
    if (header.trimmed() != QByteArrayLiteral("time_utc,frequency_hz,snr_db,delays_ms"))
        return QStringLiteral("it is not a sweep CSV (its first line is not "
                              "time_utc,frequency_hz,snr_db,delays_ms)");
    QList<SweepStep> steps;
    for (int line = 2; !file.atEnd(); ++line) {
        const QByteArray row = file.readLine().trimmed();
        if (row.isEmpty())
            continue;
        const QList<QByteArray> fields = row.split(',');
        const auto damaged = [line] {
            return QStringLiteral("line %1 is damaged").arg(line);
        };
        if (fields.size() != 4
            || !QDateTime::fromString(QString::fromLatin1(fields[0]), Qt::ISODateWithMs).isValid())
            return damaged();
        SweepStep step;
        bool hzOk = false, snrOk = false;
        step.frequencyHz = fields[1].toInt(&hzOk);
        step.snrDb = fields[2].toDouble(&snrOk);
        if (!hzOk || !snrOk || step.frequencyHz <= 0 || !std::isfinite(step.snrDb))
            return damaged();
        for (const QByteArray &word : fields[3].split(' ')) {
            if (word.isEmpty())
                continue;
            bool ok = false;
            const double delay = word.toDouble(&ok);
            if (!ok || !std::isfinite(delay))
                return damaged();
            step.delaysMs.append(delay);
        }
        steps.append(step);
    }
    return steps;
}

std::optional<qint64> sweepStartFromFileName(const QString &fileName)
{
    static const QRegularExpression name(QStringLiteral("^(\\d{8}-\\d{6})Z\\.csv$"));
    const auto match = name.match(QFileInfo(fileName).fileName());
    if (!match.hasMatch())
        return std::nullopt;
    const QString stem = match.captured(1);
    const QDate date = QDate::fromString(stem.left(8), QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(stem.mid(9), QStringLiteral("HHmmss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch();
}

} // namespace Listen
