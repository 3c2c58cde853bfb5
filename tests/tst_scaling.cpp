// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A sweep's ionogram read for its MOFs, the day's summary and its plot.

#include "sweeprecorder.h"
#include "sweepscaling.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

using namespace Listen;

// A straight piece of a trace: heard at every step from fromMhz to toMhz, its delay going
// from fromMs to toMs.
struct Piece
{
    double fromMhz;
    double toMhz;
    double fromMs;
    double toMs;
};
using Pieces = QList<Piece>;
// Echoes on their own: at mhz, delay ms.
using Strays = QList<std::pair<double, double>>;

// Every step from 2.0 to 29.9 MHz measured, with the pieces' and strays' echoes.
static QList<SweepStep> sweepOf(const Pieces &pieces, const Strays &strays)
{
    QList<SweepStep> steps;
    for (int i = 0; i < 280; ++i) {
        SweepStep step{2'000'000 + i * 100'000, 10, {}};
        const double mhz = step.frequencyHz / 1e6;
        for (const Piece &p : pieces) {
            if (mhz < p.fromMhz - 1e-9 || mhz > p.toMhz + 1e-9)
                continue;
            const double share
                = p.toMhz > p.fromMhz ? (mhz - p.fromMhz) / (p.toMhz - p.fromMhz) : 0;
            step.delaysMs.append(std::round((p.fromMs + share * (p.toMs - p.fromMs)) * 100) / 100);
        }
        for (const auto &[at, ms] : strays) {
            if (std::abs(at - mhz) < 1e-9)
                step.delaysMs.append(ms);
        }
        steps.append(step);
    }
    return steps;
}

class TestScaling : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestEnvironment(); }
    void scaleSweep_data();
    void scaleSweep();
    void summaryRow_data();
    void summaryRow();
    void summaryText_data();
    void summaryText();
    void dayFilesSplitAtUtcMidnight();
};

void TestScaling::scaleSweep_data()
{
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<Strays>("strays");
    QTest::addColumn<int>("mofHz"); // 0: not scaled
    QTest::addColumn<double>("mofDelayMs");
    QTest::addColumn<int>("mof2Hz"); // 0: no two hops
    QTest::addColumn<double>("mof2DelayMs");
    QTest::addColumn<int>("lowestHz");

    // The ordinary wave's low ray rises from 5.0 to 14.3 MHz; its high ray comes down from
    // 13.5 MHz to meet it there, 0.2 ms later at the nose.
    const Piece lowRay{5.0, 14.3, 10.00, 12.10};
    const Piece highRay{13.5, 14.3, 14.00, 12.30};
    QTest::newRow("a nose: low and high ray meet")
        << Pieces{lowRay, highRay} << Strays{} << 14'300'000 << 12.10 << 0 << 0.0 << 5'000'000;
    QTest::newRow("the extraordinary wave 500 kHz above")
        << Pieces{lowRay, highRay, {5.5, 14.8, 10.30, 12.30}, {14.2, 14.8, 13.50, 12.45}}
        << Strays{} << 14'800'000 << 12.30 << 0 << 0.0 << 5'000'000;
    QTest::newRow("gaps of 500 kHz and a fade")
        << Pieces{{6.0, 6.9, 9.00, 9.30}, {7.4, 9.9, 9.50, 10.30}, {10.3, 12.0, 10.40, 11.00}}
        << Strays{} << 12'000'000 << 11.00 << 0 << 0.0 << 6'000'000;
    // One-hop E below 3 MHz; one-hop F from 4 to 14 MHz; two hops 1.5 ms later by 10 MHz.
    QTest::newRow("E, one hop and two hops")
        << Pieces{{2.0, 3.0, 7.00, 7.20}, {4.0, 14.0, 8.00, 10.00}, {4.0, 10.0, 9.50, 10.70}}
        << Strays{} << 14'000'000 << 10.00 << 10'000'000 << 10.70 << 2'000'000;
    QTest::newRow("stray echoes above the MOF")
        << Pieces{lowRay, highRay} << Strays{{20.0, 5.00}, {20.1, 5.10}, {25.0, 30.00}}
        << 14'300'000 << 12.10 << 0 << 0.0 << 5'000'000;
    QTest::newRow("a later trace ending 500 kHz below the MOF: one hop")
        << Pieces{{4.0, 14.0, 8.00, 10.00}, {4.0, 13.5, 9.50, 10.70}} << Strays{} << 14'000'000
        << 10.00 << 0 << 0.0 << 4'000'000;
    // A high ray heard from 9.0 MHz down to 13.0 ms at 12.3 MHz, then lost before the nose.
    QTest::newRow("a high ray broken off 2 MHz below the nose: one hop")
        << Pieces{lowRay, {9.0, 12.3, 16.00, 13.00}} << Strays{} << 14'300'000 << 12.10 << 0 << 0.0
        << 5'000'000;
    // Heard to 18.5 MHz, 0.7 ms after the low ray and hardly falling, then lost: a high ray
    // again (two hops cannot reach 0.85 of the one-hop MOF).
    QTest::newRow("a flat high ray broken off 1.8 MHz below the nose: one hop")
        << Pieces{{5.0, 20.3, 5.90, 6.00}, {14.0, 18.5, 6.80, 6.60}} << Strays{} << 20'300'000
        << 6.00 << 0 << 0.0 << 5'000'000;
    // Pieces of the high rays of both waves, 1.7 to 2 ms late, heard from 13.0 to 15.4 MHz.
    QTest::newRow("high rays' pieces well below the nose: one hop")
        << Pieces{{5.0, 21.0, 6.20, 6.40}, {13.0, 15.4, 8.00, 8.30}} << Strays{} << 21'000'000
        << 6.40 << 0 << 0.0 << 5'000'000;
    // Two hops heard 1 ms after one hop from 5.7 to 7.8 MHz, then lost in one hop's trace.
    QTest::newRow("two hops' short piece: their MOF not read")
        << Pieces{{5.7, 22.7, 6.20, 6.30}, {5.7, 7.8, 7.20, 7.30}} << Strays{} << 22'700'000 << 6.30
        << 0 << 0.0 << 5'700'000;
    // By night: E to 12.9 MHz at 5.3 ms; F2's extraordinary wave to 11.0 MHz and its
    // ordinary wave beside it to 10.3 MHz, both 0.7 ms after E: one hop, all of them.
    QTest::newRow("E over F2 by night: F2 is one hop")
        << Pieces{{2.0, 12.9, 5.30, 5.40}, {7.5, 11.0, 5.95, 6.05}, {7.0, 10.3, 6.00, 6.10}}
        << Strays{} << 12'900'000 << 5.40 << 0 << 0.0 << 2'000'000;
    QTest::newRow("four steps heard")
        << Pieces{{8.0, 8.3, 9.00, 9.30}} << Strays{} << 0 << 0.0 << 0 << 0.0 << 0;
    QTest::newRow("only stray echoes")
        << Pieces{}
        << Strays{{3.0, 4.0}, {5.0, 22.0}, {7.0, 8.0}, {11.0, 30.0}, {13.0, 2.5}, {17.0, 15.0}} << 0
        << 0.0 << 0 << 0.0 << 0;
    // The highest trace heard on one step in five: too broken to follow, below a good one.
    QTest::newRow("the top trace too broken to follow") << Pieces{lowRay}
                                                        << Strays{{15.0, 13.0},
                                                                  {15.5, 13.1},
                                                                  {16.0, 13.2},
                                                                  {16.5, 13.3},
                                                                  {17.0, 13.4},
                                                                  {17.5, 13.5}}
                                                        << 0 << 0.0 << 0 << 0.0 << 0;
}

void TestScaling::scaleSweep()
{
    QFETCH(Pieces, pieces);
    QFETCH(Strays, strays);
    QFETCH(int, mofHz);
    QFETCH(double, mofDelayMs);
    QFETCH(int, mof2Hz);
    QFETCH(double, mof2DelayMs);
    QFETCH(int, lowestHz);

    QList<SweepStep> steps = sweepOf(pieces, strays);
    // The steps come in any order: as measured, and the other way round.
    for (int order = 0; order < 2; ++order) {
        if (order == 1)
            std::reverse(steps.begin(), steps.end());
        const SweepScale scale = Listen::scaleSweep(steps);
        QCOMPARE(scale.stepsMeasured, 280);
        QCOMPARE(scale.oneHop.has_value(), mofHz != 0);
        QCOMPARE(scale.twoHop.has_value(), mof2Hz != 0);
        if (scale.oneHop) {
            QCOMPARE(scale.oneHop->mofHz, mofHz);
            QCOMPARE(scale.oneHop->delayMs, mofDelayMs);
            QCOMPARE(scale.lowestHz.value_or(-1), lowestHz);
        }
        if (scale.twoHop) {
            QCOMPARE(scale.twoHop->mofHz, mof2Hz);
            QCOMPARE(scale.twoHop->delayMs, mof2DelayMs);
        }
    }
}

// 2026-12-08 10:05:00 UTC, ms since the epoch.
static constexpr qint64 At1005 = 1'796'724'300'000;

void TestScaling::summaryRow_data()
{
    QTest::addColumn<SweepSummary>("summary");
    QTest::addColumn<QByteArray>("row");
    SweepSummary both{At1005,
                      300.0,
                      78.5,
                      100.0,
                      {{{14'300'000, 12.1}}, {{9'800'000, 13.456}}, 6'000'000, 150, 280}};
    QTest::newRow("both modes")
        << both
        << QByteArray(
               "2026-12-08T10:05:00.000Z,300,78.5,100,14300000,12.10,9800000,13.46,150,280\n");
    // A chirptime of 78400 ms and 500.0084 kHz/s as typed, however a double holds them.
    SweepSummary odd{
        At1005 + 123, 600.0, 78'400 / 1000.0, 500.0084, {{{2'000'000, 0}}, {}, 2'000'000, 5, 5}};
    QTest::newRow("numbers as typed")
        << odd << QByteArray("2026-12-08T10:05:00.123Z,600,78.4,500.0084,2000000,0.00,,,5,5\n");
    QTest::newRow("not scaled, sounder unknown")
        << SweepSummary{At1005, {}, {}, {}, {{}, {}, {}, 12, 280}}
        << QByteArray("2026-12-08T10:05:00.000Z,,,,,,,,12,280\n");
}

void TestScaling::summaryRow()
{
    QFETCH(SweepSummary, summary);
    QFETCH(QByteArray, row);
    QCOMPARE(Listen::summaryRow(summary), row);
    QCOMPARE(summaryHeader(),
             QByteArray("time_utc,period_s,chirptime_s,rate_khz_s,mof_hz,mof_delay_ms,mof2_hz,"
                        "mof2_delay_ms,steps_heard,steps_measured\n"));
    // Read back, the row is the same; a row cut short or with a stray word is none.
    const auto back = summaryFromRow(row);
    QVERIFY(back);
    QCOMPARE(Listen::summaryRow(*back), row);
    QVERIFY(!summaryFromRow(row.left(row.lastIndexOf(','))));
    QVERIFY(!summaryFromRow(QByteArray(row).insert(25, 'x')));
}

void TestScaling::summaryText_data()
{
    QTest::addColumn<int>("lowestHz");
    QTest::addColumn<int>("mofHz"); // 0: not scaled
    QTest::addColumn<QString>("bands");
    QTest::addColumn<QString>("text");
    const auto row
        = [](const char *name, int lowest, int mof, const char *bands, const char *text) {
              QTest::newRow(name) << lowest << mof << QString::fromLatin1(bands)
                                  << QString::fromLatin1(text);
          };
    row("three bands",
        6'000'000,
        14'300'000,
        "40 30 20",
        "Sweep of 10:05 UTC: MOF 14.3 MHz (12.10 ms); open: 40, 30, 20 m");
    row("MOF on a band's bottom",
        3'900'000,
        7'000'000,
        "80 60 40",
        "Sweep of 10:05 UTC: MOF 7.0 MHz (12.10 ms); open: 80, 60, 40 m");
    row("lowest above a band's top",
        7'400'000,
        10'100'000,
        "30",
        "Sweep of 10:05 UTC: MOF 10.1 MHz (12.10 ms); open: 30 m");
    row("every band",
        2'000'000,
        29'900'000,
        "80 60 40 30 20 17 15 12 10",
        "Sweep of 10:05 UTC: MOF 29.9 MHz (12.10 ms); open: 80, 60, 40, 30, 20, 17, 15, 12, 10 m");
    row("between bands",
        14'400'000,
        18'000'000,
        "",
        "Sweep of 10:05 UTC: MOF 18.0 MHz (12.10 ms); open: none");
    row("not scaled",
        0,
        0,
        "",
        "Sweep of 10:05 UTC: too few echoes to read a MOF (12 of 280 steps heard).");
}

void TestScaling::summaryText()
{
    QFETCH(int, lowestHz);
    QFETCH(int, mofHz);
    QFETCH(QString, bands);
    QFETCH(QString, text);
    SweepSummary summary{At1005, {}, {}, {}, {{}, {}, {}, 12, 280}};
    if (mofHz != 0)
        summary.scale = {{{mofHz, 12.1}}, {}, lowestHz, 150, 280};
    QCOMPARE(openBands(summary.scale).join(u' '), bands);
    QCOMPARE(sweepSummaryText(summary), text);
}

// A sweep at 23:58 UTC and the next at 00:03 go to two days' summaries and plots, each
// once, however often they are finished.
void TestScaling::dayFilesSplitAtUtcMidnight()
{
    QTemporaryDir dir;
    SweepRecorder recorder(dir.path());
    QSignalSpy scaled(&recorder, &SweepRecorder::sweepScaled);
    QSignalSpy plots(&recorder, &SweepRecorder::dayPlotChanged);
    const qint64 late
        = QDateTime(QDate(2026, 12, 8), QTime(23, 58), QTimeZone::utc()).toMSecsSinceEpoch();
    const qint64 early = late + 5 * 60'000;
    for (const qint64 start : {late, early}) {
        // Heard from 5.0 to 5.5 MHz, nothing at 5.6 MHz.
        for (int i = 0; i < 7; ++i) {
            StepReading reading;
            reading.step = {start, 5'000'000 + i * 100'000, double(start + 50'000 + i * 1000)};
            if (i < 6)
                reading.echoes = {{10.0 + i * 0.1, 20}};
            recorder.writeRow(reading);
        }
        recorder.finishSweep(start, 300, 78.5, 100);
        recorder.finishSweep(start, 300, 78.5, 100);
    }
    QCOMPARE(scaled.size(), 2);
    QCOMPARE(plots.size(), 2);
    const auto contents = [&](const char *name) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
    };
    const QByteArray header = summaryHeader();
    QCOMPARE(contents("20261208-summary.csv"),
             header + "2026-12-08T23:58:00.000Z,300,78.5,100,5500000,10.50,,,6,7\n");
    QCOMPARE(contents("20261209-summary.csv"),
             header + "2026-12-09T00:03:00.000Z,300,78.5,100,5500000,10.50,,,6,7\n");
    const QImage plot(dir.filePath(QStringLiteral("20261209-mof.png")));
    QCOMPARE(plot.size(), QSize(700, 420));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("20261208-mof.png"))));
    QCOMPARE(plots.last().first().value<QImage>(), plot.convertToFormat(QImage::Format_RGB32));
}

QTEST_MAIN(TestScaling)
#include "tst_scaling.moc"
