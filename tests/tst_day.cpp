// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A whole simulated day of ticks: properties of every step, for every listed period.

#include "processprobe.h"
#include "testenvironment.h"
#include "tickcycle.h"

#include <QTest>

using namespace Tracking;

namespace {

constexpr qint32 TicksPerDay = 864'000;

// Controls that keep the last step shown; the settings are fixed.
struct DayControls : TrackingControls
{
    QString period;
    int slider = 0;
    StepResult last;
    QString problem;

    QString command1Caption() const override { return QStringLiteral("Stop"); }
    void setCommand1Caption(const QString &) override {}
    void setTimer1Enabled(bool) override {}
    void setSettingsLocked(bool) override {}
    int slider1Value() const override { return slider; }
    QString periodText() const override { return period; }
    QString chirptimeText() const override { return QStringLiteral("78"); }
    void showStep(const StepResult &step) override { last = step; }
    void showProblem(const QString &text) override { problem = text; }
};

bool wellFormedStep(const QString &text)
{
    if (text.size() != 7 && text.size() != 8)
        return false;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const int hz = text.toInt();
    return hz % 100'000 == 0 && hz >= 2'000'000 && hz <= 30'000'000;
}

} // namespace

class TestDay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A fixed zone: the day is laid out from local midnight, whatever this machine says.
    void initTestCase() { setUpTestEnvironment(); }
    void wholeDay_data();
    void wholeDay();
};

void TestDay::wholeDay_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<int>("slider");

    // The soak takes every slider position; the quick run its ends and middle.
    QList<int> sliders{-10, 0, 10};
    if (soakRun()) {
        sliders.clear();
        for (int units = -10; units <= 10; ++units)
            sliders << units;
    }
    for (const char *period : {"300", "600", "900", "1200", "1800"}) {
        for (int slider : sliders)
            QTest::addRow("period %s, offset %d", period, slider)
                << QString::fromLatin1(period) << slider;
    }
}

void TestDay::wholeDay()
{
    QFETCH(QString, period);
    QFETCH(int, slider);

    DayControls controls;
    controls.period = period;
    controls.slider = slider;
    QTime now(0, 0);
    QString sentStep;
    TickCycle cycle(
        controls,
        [&] { return QDateTime(QDate(2026, 12, 7), now); },
        [&](qint32 hz) { sentStep = QString::number(hz); });

    const qint32 periodMs = period.toInt() * 1000;
    const qint32 chirpStartMs = 78'000;
    // The soak takes every tick of the day; the quick run every thirteenth, 1.3 s apart,
    // which over the day still meets every tick's place in each period.
    const qint32 stride = soakRun() ? 1 : 13;
    const qint32 riseHz = 10'000 * stride;
    StepResult previous;
    bool first = true;
    // Past the end of the day: the last tick compares the day's end with the next day.
    for (qint32 tick = 0; tick < TicksPerDay + stride; tick += stride) {
        now = QTime(0, 0).addMSecs(qint64(tick % TicksPerDay) * 100);
        sentStep.clear();
        cycle.onTimer1Tick();
        if (!wellFormedStep(sentStep) || sentStep != controls.last.stepText
            || !controls.problem.isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1: step \"%2\" %3")
                                 .arg(now.toString(u"HH:mm:ss.zzz"), sentStep, controls.problem)));
        const StepResult &step = controls.last;
        if (!first) {
            // The period position runs on with the clock, across midnight too.
            if (step.periodPositionMs != (previous.periodPositionMs + 100 * stride) % periodMs)
                QFAIL(qPrintable(
                    QStringLiteral("position jumps at %1").arg(now.toString(u"HH:mm:ss.zzz"))));
            // Within a chirp the frequency only rises; it falls only to 2 MHz, past 30 MHz or
            // when the next chirp starts.
            const bool newChirp
                = step.periodPositionMs >= chirpStartMs && previous.periodPositionMs < chirpStartMs;
            if (step.sweepHz < previous.sweepHz
                && !(step.sweepHz == 2'000'000
                     && (newChirp || previous.sweepHz > 30'000'000 - riseHz)))
                QFAIL(qPrintable(QStringLiteral("falls from %1 to %2 Hz at %3")
                                     .arg(previous.sweepHz)
                                     .arg(step.sweepHz)
                                     .arg(now.toString(u"HH:mm:ss.zzz"))));
            if (step.sweepHz > previous.sweepHz && step.sweepHz - previous.sweepHz != riseHz
                && previous.sweepHz != 2'000'000)
                QFAIL(qPrintable(QStringLiteral("leaps from %1 to %2 Hz at %3")
                                     .arg(previous.sweepHz)
                                     .arg(step.sweepHz)
                                     .arg(now.toString(u"HH:mm:ss.zzz"))));
        }
        previous = step;
        first = false;
    }
}

QTEST_GUILESS_MAIN(TestDay)
#include "tst_day.moc"
