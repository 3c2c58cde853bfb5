// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "chirpschedule.h"
#include "clockhealth.h"
#include "daytime.h"
#include "testenvironment.h"
#include "tickcycle.h"
#include "timebase.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace Tracking;

namespace {

QDateTime localAt(int h, int m, int s, int ms)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, m, s, ms));
}

// Controls that remember what the tick cycle did to them, in order.
struct FakeControls : TrackingControls
{
    QString caption = QStringLiteral("Start");
    bool timerEnabled = false;
    bool locked = false;
    int slider = 0;
    QString period = QStringLiteral("300");
    QString chirptime = QStringLiteral("78");
    QStringList log;

    QString command1Caption() const override { return caption; }
    void setCommand1Caption(const QString &c) override { caption = c; }
    void setTimer1Enabled(bool e) override { timerEnabled = e; }
    void setSettingsLocked(bool l) override { locked = l; }
    int slider1Value() const override { return slider; }
    QString periodText() const override { return period; }
    QString chirptimeText() const override { return chirptime; }
    void showStep(const StepResult &step) override
    {
        log << QStringLiteral("Text3 ") + step.chirpPositionText
            << QStringLiteral("Text5 ") + step.periodPositionText
            << QStringLiteral("text2 ") + step.frequencyText;
    }
    void showProblem(const QString &text) override { log << QStringLiteral("status ") + text; }
};

} // namespace

class TestTracking : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void dayTime_data();
    void dayTime();
    void dayTimeFollowsLocalMidnight();

    void computeStep_data();
    void computeStep();
    void computeStepInCommaLocale();
    void computeStepAtRate_data();
    void sounderOfStep_data();
    void sounderOfStep();
    void computeStepAtRate();
    void numbersReadAsTheLocaleReadsThem_data();
    void numbersReadAsTheLocaleReadsThem();
    void failures_data();
    void failures();
    void failureMessages_data();
    void failureMessages();

    void startAndStop();
    void startRefusedForUnusableSettings_data();
    void startRefusedForUnusableSettings();
    void tickSkipsWhileTheSweepOverflows();
    void tickShowsThenSends();
    void failingTickSendsNothing();
    void sliderTakesEffectAtNextTick();

    void utcCountsFromUtcMidnight();
    void clockHealth_data();
    void clockHealth();
};

void TestTracking::initTestCase()
{
    setUpTestEnvironment();
}

void TestTracking::init()
{
    setUpTestEnvironment();
}

void TestTracking::dayTime_data()
{
    QTest::addColumn<QDateTime>("reading");
    QTest::addColumn<QString>("millisecondText");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("midnight") << localAt(0, 0, 0, 0) << "0" << 600;
    QTest::newRow("last millisecond of the day") << localAt(23, 59, 59, 999) << "999" << 86'400'599;
    QTest::newRow("12:34:56.789") << localAt(12, 34, 56, 789) << "789" << 45'297'389;
    QTest::newRow("millisecond 5") << localAt(0, 0, 1, 5) << "5" << 1'605;
}

void TestTracking::dayTime()
{
    QFETCH(QDateTime, reading);
    QFETCH(QString, millisecondText);
    QFETCH(qint32, expected);
    QCOMPARE(TimeToMillisecond(reading), millisecondText);
    QCOMPARE(DayTime(reading), expected);
}

void TestTracking::dayTimeFollowsLocalMidnight()
{
    // Fourteen hours east of UTC: 10:00:00.250 UTC is 00:00:00.250 of the next local day.
    qputenv("TZ", "XYZ-14");
    tzset();
    const QDateTime utc(QDate(2026, 12, 7), QTime(10, 0, 0, 250), Qt::UTC);
    const qint32 dayTime = DayTime(utc.toLocalTime());
    setUpTestEnvironment();
    QCOMPARE(dayTime, 850);
}

void TestTracking::computeStepAtRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint32>("dayTime");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<qint32>("sweepHz");
    QTest::addColumn<qint32>("stepHz");
    // 7 MHz is 56 s into a 125 kHz/s sweep: 17.05 + 56 = 73.05 s into the period.
    QTest::newRow("125 kHz/s, the 450 s radar") << 125.0 << 73'050 << "450"
                                                << "17.05" << 7'000'000 << 7'000'000;
    // 14 s into the sweep: 14,000 ms x 500.0084 Hz/ms = 7,000,117.6 Hz.
    QTest::newRow("500.0084 kHz/s, 60:54") << 500.0084 << 68'000 << "60"
                                           << "54" << 7'000'117 << 7'000'000;
    QTest::newRow("50 kHz/s") << 50.0 << 218'000 << "300"
                              << "78" << 7'000'000 << 7'000'000;
    // 366 s x 82 kHz/s = 30.012 MHz: past the top, the radio waits at 2 MHz.
    QTest::newRow("82 kHz/s past 30 MHz") << 82.0 << 444'000 << "720"
                                          << "78" << 2'000'000 << 2'000'000;
    QTest::newRow("100 kHz/s given: as without") << 100.0 << 45'297'389 << "300"
                                                 << "78" << 21'938'900 << 21'900'000;
}

void TestTracking::computeStepAtRate()
{
    QFETCH(double, rate);
    QFETCH(qint32, dayTime);
    QFETCH(QString, period);
    QFETCH(QString, chirptime);
    QFETCH(qint32, sweepHz);
    QFETCH(qint32, stepHz);
    Tracking::StepInputs inputs{period, chirptime, 0};
    inputs.rateKhzPerS = rate;
    const auto outcome = Tracking::ComputeStep(dayTime, inputs);
    QVERIFY(std::holds_alternative<Tracking::StepResult>(outcome));
    QCOMPARE(std::get<Tracking::StepResult>(outcome).sweepHz, sweepHz);
    QCOMPARE(std::get<Tracking::StepResult>(outcome).stepHz, stepHz);
}

void TestTracking::sounderOfStep_data()
{
    QTest::addColumn<qint32>("dayTime");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<int>("offsetUnits");
    QTest::addColumn<double>("chirptimeMs"); // the sounder's, whatever the tick and offset

    QTest::newRow("mid-sweep") << 45'297'389 << "300"
                               << "78" << 0 << 78'000.0;
    QTest::newRow("offset +1.5 s") << 45'297'389 << "300"
                                   << "78" << 15 << 78'000.0;
    QTest::newRow("offset -0.5 s") << 45'297'389 << "300"
                                   << "78" << -5 << 78'000.0;
    // 10 s into the period the sweep under way is the previous period's.
    QTest::newRow("before this period's chirp") << 10'000 << "900"
                                                << "325.25" << 0 << 325'250.0;
    QTest::newRow("the radar at 17.05 s") << 73'050 << "450"
                                          << "17.05" << 0 << 17'050.0;
}

void TestTracking::sounderOfStep()
{
    QFETCH(qint32, dayTime);
    QFETCH(QString, period);
    QFETCH(QString, chirptime);
    QFETCH(int, offsetUnits);
    QFETCH(double, chirptimeMs);
    const Tracking::StepInputs inputs{period, chirptime, offsetUnits, 125};
    const auto outcome = Tracking::ComputeStep(dayTime, inputs);
    QVERIFY(std::holds_alternative<Tracking::StepResult>(outcome));
    const auto sounder = Tracking::Sounder::of(std::get<Tracking::StepResult>(outcome), 125);
    QCOMPARE(sounder.chirptimeMs, chirptimeMs);
    QCOMPARE(sounder.rateKhzPerS, 125.0);
    QCOMPARE(Tracking::Sounder::read(period, chirptime, 125), std::optional(sounder));
    QCOMPARE(Tracking::Sounder::read(QStringLiteral("0"), chirptime), std::nullopt);
}

void TestTracking::computeStep_data()
{
    QTest::addColumn<qint32>("dayTime");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<int>("offsetUnits");
    QTest::addColumn<qint32>("periodPositionMs");
    QTest::addColumn<qint32>("chirpPositionMs");
    QTest::addColumn<qint32>("sweepHz");
    QTest::addColumn<QString>("stepText");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<QString>("text5");
    QTest::addColumn<QString>("text2");

    QTest::newRow("12:34:56.789") << 45'297'389 << "300"
                                  << "78" << 0 << 297'389 << 219'389 << 21'938'900 << "21900000"
                                  << "219.4"
                                  << "297.4"
                                  << "21.94 MHz";
    QTest::newRow("before the chirp: previous period's sweep")
        << 30'600 << "300"
        << "78" << 0 << 30'600 << 252'600 << 25'260'000 << "25200000"
        << "252.6"
        << "30.6"
        << "25.26 MHz";
    QTest::newRow("offset -10 at the chirp's start")
        << 79'000 << "300"
        << "78" << -10 << 79'000 << 0 << 2'000'000 << "2000000"
        << "0.0"
        << "79.0"
        << "2.00 MHz";
    QTest::newRow("past 30 MHz waits at 2 MHz")
        << 428'000 << "600"
        << "78" << 0 << 428'000 << 350'000 << 2'000'000 << "2000000"
        << "350.0"
        << "428.0"
        << "2.00 MHz";
    QTest::newRow("chirp start equals period position")
        << 78'000 << "300"
        << "78" << 0 << 78'000 << 0 << 2'000'000 << "2000000"
        << "0.0"
        << "78.0"
        << "2.00 MHz";
    QTest::newRow("negative offset at the chirp's start")
        << 78'000 << "300"
        << "78" << -5 << 78'000 << -500 << 2'000'000 << "2000000"
        << "-0.5"
        << "78.0"
        << "2.00 MHz";
    QTest::newRow("exactly 30 MHz stays")
        << 378'000 << "600"
        << "78" << 0 << 378'000 << 300'000 << 30'000'000 << "30000000"
        << "300.0"
        << "378.0"
        << "30.00 MHz";
    QTest::newRow("30,000,100 Hz resets")
        << 378'001 << "600"
        << "78" << 0 << 378'001 << 300'001 << 2'000'000 << "2000000"
        << "300.0"
        << "378.0"
        << "2.00 MHz";
    QTest::newRow("9,999,900 Hz steps to 9.9 MHz")
        << 177'999 << "300"
        << "78" << 0 << 177'999 << 99'999 << 9'999'900 << "9900000"
        << "100.0"
        << "178.0"
        << "10.00 MHz";
    QTest::newRow("10 MHz") << 178'000 << "300"
                            << "78" << 0 << 178'000 << 100'000 << 10'000'000 << "10000000"
                            << "100.0"
                            << "178.0"
                            << "10.00 MHz";
    QTest::newRow("fractional chirptime used unrounded")
        << 78'400 << "300"
        << "78.5" << 0 << 78'400 << 299'900 << 29'990'000 << "29900000"
        << "299.9"
        << "78.4"
        << "29.99 MHz";
    QTest::newRow("last millisecond of the day")
        << 86'400'599 << "300"
        << "78" << 0 << 599 << 222'599 << 22'259'900 << "22200000"
        << "222.6"
        << "0.6"
        << "22.26 MHz";
    QTest::newRow("first tick of the day")
        << 600 << "300"
        << "78" << 0 << 600 << 222'600 << 22'260'000 << "22200000"
        << "222.6"
        << "0.6"
        << "22.26 MHz";
    // Rounding the period first would give 300001 + 30600 - 78000.4 = 252600.6 -> 252601.
    QTest::newRow("wrap re-reads the period unrounded")
        << 30'600 << "300.0006"
        << "78.0004" << 0 << 30'600 << 252'600 << 25'260'000 << "25200000"
        << "252.6"
        << "30.6"
        << "25.26 MHz";
    QTest::newRow("period 300000.5 ms rounds to even")
        << 300'000 << "300.0005"
        << "0" << 0 << 0 << 0 << 2'000'000 << "2000000"
        << "0.0"
        << "0.0"
        << "2.00 MHz";
    QTest::newRow("period 300001.5 ms rounds to even")
        << 300'002 << "300.0015"
        << "0" << 0 << 0 << 0 << 2'000'000 << "2000000"
        << "0.0"
        << "0.0"
        << "2.00 MHz";
    QTest::newRow("wrap 1.5 ms rounds to 2")
        << 78'002 << "300"
        << "78.0005" << 0 << 78'002 << 2 << 2'000'000 << "2000000"
        << "0.0"
        << "78.0"
        << "2.00 MHz";
    QTest::newRow("wrap 2.5 ms rounds to 2")
        << 78'005 << "300"
        << "78.0025" << 0 << 78'005 << 2 << 2'000'000 << "2000000"
        << "0.0"
        << "78.0"
        << "2.00 MHz";
    QTest::newRow("250 ms shows as 0.3") << 78'250 << "300"
                                         << "78" << 0 << 78'250 << 250 << 2'000'000 << "2000000"
                                         << "0.3"
                                         << "78.3"
                                         << "2.00 MHz";
    QTest::newRow("-49 ms shows no minus sign")
        << 78'051 << "300"
        << "78" << -1 << 78'051 << -49 << 2'000'000 << "2000000"
        << "0.0"
        << "78.1"
        << "2.00 MHz";
    QTest::newRow("blanks and a sign around the numbers")
        << 45'297'389 << " 300 "
        << " +78 " << 0 << 297'389 << 219'389 << 21'938'900 << "21900000"
        << "219.4"
        << "297.4"
        << "21.94 MHz";
    QTest::newRow("period 1800") << 45'297'389 << "1800"
                                 << "78" << 0 << 297'389 << 219'389 << 21'938'900 << "21900000"
                                 << "219.4"
                                 << "297.4"
                                 << "21.94 MHz";
    QTest::newRow("largest sweep that fits 32 bits")
        << 21'474'836 << "86400"
        << "0" << 0 << 21'474'836 << 21'474'836 << 2'000'000 << "2000000"
        << "21474.8"
        << "21474.8"
        << "2.00 MHz";
}

void TestTracking::computeStep()
{
    QFETCH(qint32, dayTime);
    QFETCH(QString, period);
    QFETCH(QString, chirptime);
    QFETCH(int, offsetUnits);

    const StepOutcome outcome = ComputeStep(dayTime, {period, chirptime, offsetUnits});
    const auto *result = std::get_if<StepResult>(&outcome);
    QVERIFY(result);
    const StepResult &step = *result;
    QTEST(step.periodPositionMs, "periodPositionMs");
    QTEST(step.chirpPositionMs, "chirpPositionMs");
    QTEST(step.sweepHz, "sweepHz");
    QTEST(step.stepText, "stepText");
    QTEST(step.chirpPositionText, "text3");
    QTEST(step.periodPositionText, "text5");
    QTEST(step.frequencyText, "text2");
}

void TestTracking::computeStepInCommaLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const StepOutcome outcome
        = ComputeStep(78'400, {QStringLiteral("300"), QStringLiteral("78,5"), 0});
    const auto *result = std::get_if<StepResult>(&outcome);
    QVERIFY(result);
    const StepResult &step = *result;
    QCOMPARE(step.chirpPositionMs, 299'900);
    QCOMPARE(step.stepText, QStringLiteral("29900000"));
    QCOMPARE(step.chirpPositionText, QStringLiteral("299,9"));
    QCOMPARE(step.periodPositionText, QStringLiteral("78,4"));
    QCOMPARE(step.frequencyText, QStringLiteral("29,99 MHz"));

    // "78.5" is no number with a decimal comma.
    const StepOutcome dotted
        = ComputeStep(78'400, {QStringLiteral("300"), QStringLiteral("78.5"), 0});
    const auto *failure = std::get_if<StepFailure>(&dotted);
    QVERIFY(failure);
    QCOMPARE(*failure, (StepFailure{StepError::NotANumber, StepField::Chirptime}));
}

void TestTracking::numbersReadAsTheLocaleReadsThem_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<QString>("expected");

    // At day time 600 with period 300 the period position is 600 ms. A chirptime of c ms
    // above it gives the chirp position 300,600 - c, else 600 - c: 78 s gives 222,600.
    // "x": not a number in that locale; "o": a sweep beyond 32 bits.
    const QList<std::pair<QString, const char *>> table{
        //                                    C        en_US    de_DE    fr_FR    ar_EG
        {QStringLiteral("78"), "222600 222600 222600 222600 222600"},
        {QStringLiteral("078"), "222600 222600 222600 222600 222600"},
        {QStringLiteral("+78"), "222600 222600 222600 222600 222600"},
        {QStringLiteral("-78"), "78600 78600 78600 78600 78600"},
        {QStringLiteral("\u221278"), "78600 78600 78600 78600 78600"}, // a minus sign
        {QStringLiteral("78.5"), "222100 222100 x x x"},
        {QStringLiteral("78,5"), "x x 222100 222100 x"},
        {QStringLiteral("78."), "222600 222600 x x x"},
        {QStringLiteral(".5"), "100 100 x x x"},
        {QStringLiteral("0.1"), "500 500 x x x"},
        {QStringLiteral("1.2.3"), "x x x x x"},
        {QStringLiteral(" 78 "), "222600 222600 222600 222600 222600"},
        {QStringLiteral("\t78"), "222600 222600 222600 222600 222600"},
        {QStringLiteral("7 8"), "x x x x x"},
        // Group separators are read where they are the locale's: 1,200 s is -899,400 ms.
        {QStringLiteral("1,200"), "-899400 -899400 299400 299400 x"},
        {QStringLiteral("1.200"), "299400 299400 -899400 x x"},
        {QStringLiteral("1,200.5"), "-899900 -899900 x x x"},
        {QStringLiteral("1\u00a0200"), "x x x x x"},
        {QStringLiteral("\u0663"), "x x x x 297600"}, // Arabic-Indic 3
        {QStringLiteral("-"), "x x x x x"},
        {QStringLiteral("+"), "x x x x x"},
        {QStringLiteral("--1"), "x x x x x"},
        {QStringLiteral("78.50000000000000000001"), "222100 222100 x x x"},
        {QStringLiteral("123456789012345678901234567890"), "o o o o o"},
        {QStringLiteral("1e2"), "200600 200600 200600 200600 200600"},
    };
    const char *const locales[] = {"C", "en_US", "de_DE", "fr_FR", "ar_EG"};
    for (const auto &[text, expected] : table) {
        const QList<QByteArray> perLocale = QByteArray(expected).split(' ');
        for (int i = 0; i < 5; ++i) {
            QTest::addRow("%s %s", locales[i], qPrintable(text))
                << QLocale(QString::fromLatin1(locales[i])) << text
                << QString::fromLatin1(perLocale.value(i));
        }
    }
}

void TestTracking::numbersReadAsTheLocaleReadsThem()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, chirptime);
    QFETCH(QString, expected);

    const StepOutcome outcome = ComputeStep(600, {QStringLiteral("300"), chirptime, 0}, locale);
    if (expected == u"x" || expected == u"o") {
        const auto *failure = std::get_if<StepFailure>(&outcome);
        QVERIFY(failure);
        const StepFailure wanted = expected == u"x"
                                       ? StepFailure{StepError::NotANumber, StepField::Chirptime}
                                       : StepFailure{StepError::IntegerOverflow, StepField::Sweep};
        QCOMPARE(*failure, wanted);
        return;
    }
    const auto *step = std::get_if<StepResult>(&outcome);
    QVERIFY(step);
    QCOMPARE(step->chirpPositionMs, expected.toInt());
}

void TestTracking::failures_data()
{
    QTest::addColumn<qint32>("dayTime");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<int>("offsetUnits");
    QTest::addColumn<StepError>("error");
    QTest::addColumn<StepField>("field");

    const qint32 noon = 43'200'600;
    QTest::newRow("offset 32800 ms")
        << noon << "300"
        << "78" << 328 << StepError::IntegerOverflow << StepField::Offset;
    QTest::newRow("offset -32800 ms")
        << noon << "300"
        << "78" << -328 << StepError::IntegerOverflow << StepField::Offset;
    QTest::newRow("period letters") << noon << "abc"
                                    << "78" << 0 << StepError::NotANumber << StepField::Period;
    QTest::newRow("period empty") << noon << ""
                                  << "78" << 0 << StepError::NotANumber << StepField::Period;
    QTest::newRow("period nan") << noon << "nan"
                                << "78" << 0 << StepError::NotANumber << StepField::Period;
    QTest::newRow("period inf") << noon << "inf"
                                << "78" << 0 << StepError::NotANumber << StepField::Period;
    QTest::newRow("period 1e400") << noon << "1e400"
                                  << "78" << 0 << StepError::FloatingPoint << StepField::Period;
    QTest::newRow("period beyond 32 bits")
        << noon << "2147484"
        << "78" << 0 << StepError::IntegerOverflow << StepField::Period;
    QTest::newRow("period 0") << noon << "0"
                              << "78" << 0 << StepError::DivisionByZero << StepField::Period;
    QTest::newRow("period -0") << noon << "-0"
                               << "78" << 0 << StepError::DivisionByZero << StepField::Period;
    QTest::newRow("period rounds to 0")
        << noon << "0.0004"
        << "78" << 0 << StepError::DivisionByZero << StepField::Period;
    QTest::newRow("period -0.0004 rounds to 0")
        << noon << "-0.0004"
        << "78" << 0 << StepError::DivisionByZero << StepField::Period;
    QTest::newRow("period -300") << noon << "-300"
                                 << "78" << 0 << StepError::NotPositive << StepField::Period;
    QTest::newRow("period -1 ms, smallest day time")
        << std::numeric_limits<qint32>::min() << "-0.001"
        << "78" << 0 << StepError::NotPositive << StepField::Period;
    QTest::newRow("chirptime letters")
        << noon << "300"
        << "x78" << 0 << StepError::NotANumber << StepField::Chirptime;
    QTest::newRow("chirptime empty") << noon << "300"
                                     << "" << 0 << StepError::NotANumber << StepField::Chirptime;
    QTest::newRow("chirptime 1e400")
        << noon << "300"
        << "1e400" << 0 << StepError::FloatingPoint << StepField::Chirptime;
    QTest::newRow("chirptime x 1000 overflows")
        << noon << "300"
        << "1e306" << 0 << StepError::FloatingPoint << StepField::Chirptime;
    QTest::newRow("wrap beyond 32 bits")
        << noon << "300"
        << "-3000000" << 0 << StepError::IntegerOverflow << StepField::Sweep;
    QTest::newRow("chirp position + offset overflows")
        << 600 << "300"
        << "-2147483.047" << 1 << StepError::IntegerOverflow << StepField::Sweep;
    QTest::newRow("sweep x 100 overflows")
        << 21'474'837 << "86400"
        << "0" << 0 << StepError::IntegerOverflow << StepField::Sweep;
}

void TestTracking::failures()
{
    QFETCH(qint32, dayTime);
    QFETCH(QString, period);
    QFETCH(QString, chirptime);
    QFETCH(int, offsetUnits);
    QFETCH(StepError, error);
    QFETCH(StepField, field);

    const StepOutcome outcome = ComputeStep(dayTime, {period, chirptime, offsetUnits});
    const auto *failure = std::get_if<StepFailure>(&outcome);
    QVERIFY(failure);
    QCOMPARE(*failure, (StepFailure{error, field}));
}

void TestTracking::failureMessages_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<QString>("message");

    QTest::newRow("not a number") << "abc"
                                  << "78"
                                  << R"(Period "abc" is not a number.)";
    QTest::newRow("chirptime out of range") << "300"
                                            << "1e400"
                                            << R"(Chirptime "1e400" is out of range.)";
    QTest::newRow("period zero") << "0"
                                 << "78"
                                 << R"(Period "0" is too short.)";
    QTest::newRow("negative period") << "-300"
                                     << "78"
                                     << R"(Period "-300" must be more than 0 seconds.)";
    QTest::newRow("long text is cut") << QString(10'000, u'9') + u'x' << "78"
                                      << R"(Period "999999999999999999999999…" is not a number.)";
    QTest::newRow("control characters shown as marks")
        << QStringLiteral("3\u00000\t0") << "78"
        << "Period \"3\uFFFD0\uFFFD0\" is not a number.";
    QTest::newRow("a printable character outside the basic plane stays")
        << QStringLiteral("\U0001F4FB") << "78"
        << "Period \"\U0001F4FB\" is not a number.";
    QTest::newRow("a comma where the locale writes a point")
        << "300"
        << "78,5"
        << R"(Chirptime "78,5" is not a number; use "." for decimals.)";
    QTest::newRow("sweep out of range")
        << "86400"
        << "-1e7"
        << R"(Period "86400" and chirptime "-1e7" put the sweep out of range.)";
}

void TestTracking::failureMessages()
{
    QFETCH(QString, period);
    QFETCH(QString, chirptime);
    QFETCH(QString, message);

    const StepInputs inputs{period, chirptime, 0};
    const StepOutcome outcome = ComputeStep(43'200'600, inputs);
    const auto *failure = std::get_if<StepFailure>(&outcome);
    QVERIFY(failure);
    QCOMPARE(describeFailure(*failure, inputs), message);
}

void TestTracking::startAndStop()
{
    FakeControls controls;
    TickCycle cycle(controls, [] { return localAt(12, 0, 0, 0); }, {});

    cycle.onCommand1Click();
    QCOMPARE(controls.caption, QStringLiteral("Stop"));
    QVERIFY(controls.timerEnabled);
    QVERIFY(controls.locked);

    cycle.onCommand1Click();
    QCOMPARE(controls.caption, QStringLiteral("Start"));
    QVERIFY(!controls.timerEnabled);
    QVERIFY(!controls.locked);
    QVERIFY(controls.log.isEmpty()); // Start and Stop write no display

    // Only the exact caption "Start" starts; anything else stops.
    controls.caption = QStringLiteral("start");
    controls.timerEnabled = true;
    cycle.onCommand1Click();
    QCOMPARE(controls.caption, QStringLiteral("Start"));
    QVERIFY(!controls.timerEnabled);
}

void TestTracking::startRefusedForUnusableSettings_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("chirptime");
    QTest::addColumn<QString>("message");

    // Every failure refuses alike; failureMessages has the texts.
    QTest::newRow("period") << "abc"
                            << "78"
                            << R"(Period "abc" is not a number.)";
    QTest::newRow("chirptime") << "300"
                               << ""
                               << R"(Chirptime "" is not a number.)";
}

void TestTracking::startRefusedForUnusableSettings()
{
    QFETCH(QString, period);
    QFETCH(QString, chirptime);
    QFETCH(QString, message);

    FakeControls controls;
    controls.period = period;
    controls.chirptime = chirptime;
    int sends = 0;
    TickCycle cycle(
        controls, [] { return localAt(12, 0, 0, 0); }, [&](qint32) { ++sends; });

    cycle.onCommand1Click();
    QCOMPARE(controls.caption, QStringLiteral("Start"));
    QVERIFY(!controls.timerEnabled);
    QVERIFY(!controls.locked);
    QCOMPARE(controls.log, QStringList{QStringLiteral("status ") + message});
    QCOMPARE(sends, 0);

    // Mended settings start.
    controls.period = QStringLiteral("300");
    controls.chirptime = QStringLiteral("78");
    cycle.onCommand1Click();
    QCOMPARE(controls.caption, QStringLiteral("Stop"));
    QVERIFY(controls.timerEnabled);
}

void TestTracking::tickSkipsWhileTheSweepOverflows()
{
    // With a day-long period the sweep leaves 32 bits from day time 21,474,837 ms.
    FakeControls controls;
    controls.period = QStringLiteral("86400");
    controls.chirptime = QStringLiteral("0");
    QDateTime now = localAt(6, 0, 0, 0);
    QList<qint32> sent;
    TickCycle cycle(
        controls, [&] { return now; }, [&](qint32 hz) { sent << hz; });
    const QString problem
        = QStringLiteral(R"(status Period "86400" and chirptime "0" put the sweep out of range.)");

    cycle.onCommand1Click();
    QVERIFY(!controls.timerEnabled);
    QCOMPARE(controls.log, QStringList{problem});

    now = localAt(5, 0, 0, 0);
    cycle.onCommand1Click();
    QVERIFY(controls.timerEnabled);
    now = localAt(5, 57, 54, 236); // day time 21,474,836: the last that fits
    cycle.onTimer1Tick();
    QCOMPARE(sent, QList<qint32>{2'000'000});
    now = now.addMSecs(1);
    cycle.onTimer1Tick();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(controls.log.last(), problem);
    QVERIFY(controls.timerEnabled);
}

void TestTracking::tickShowsThenSends()
{
    FakeControls controls;
    TickCycle cycle(
        controls,
        [] { return localAt(12, 34, 56, 789); },
        [&](qint32 hz) { controls.log << QStringLiteral("send %1").arg(hz); });
    cycle.onCommand1Click();
    cycle.onTimer1Tick();
    const QStringList expected{QStringLiteral("Text3 219.4"),
                               QStringLiteral("Text5 297.4"),
                               QStringLiteral("text2 21.94 MHz"),
                               QStringLiteral("send 21900000")};
    QCOMPARE(controls.log, expected);
}

void TestTracking::failingTickSendsNothing()
{
    FakeControls controls;
    QList<qint32> sent;
    TickCycle cycle(
        controls, [] { return localAt(12, 34, 56, 789); }, [&](qint32 hz) { sent << hz; });
    controls.period = QStringLiteral("1e400");
    cycle.onTimer1Tick();
    QVERIFY(sent.isEmpty());
    QCOMPARE(controls.log,
             QStringList{QStringLiteral(R"(status Period "1e400" is out of range.)")});

    controls.period = QStringLiteral("300");
    cycle.onTimer1Tick();
    QCOMPARE(sent, QList<qint32>{21'900'000});
}

void TestTracking::sliderTakesEffectAtNextTick()
{
    FakeControls controls;
    QList<qint32> sent;
    // 00:01:17.400 + 600 ms lead: exactly the chirp's start.
    TickCycle cycle(
        controls, [] { return localAt(0, 1, 17, 400); }, [&](qint32 hz) { sent << hz; });
    cycle.onTimer1Tick();
    controls.slider = 10; // one second later in the sweep
    cycle.onTimer1Tick();
    QCOMPARE(controls.log.at(0), QStringLiteral("Text3 0.0"));
    QCOMPARE(controls.log.at(3), QStringLiteral("Text3 1.0"));
}

void TestTracking::utcCountsFromUtcMidnight()
{
    // India, 5:30 east of UTC. 06:30:00 UTC is 12:00:00 there: 43,200.6 s into the local
    // day, a whole number of 1200-second periods (plus the lead); 23,400.6 s into the UTC
    // day, 600.6 s into its period.
    qputenv("TZ", "IST-5:30");
    tzset();
    const QDateTime instant(QDate(2026, 12, 7), QTime(6, 30), Qt::UTC);
    FakeControls controls;
    controls.period = QStringLiteral("1200");
    for (const TimeBase base : {TimeBase::Local, TimeBase::Utc}) {
        TickCycle cycle(controls, [&] { return inTimeBase(instant, base); }, {});
        cycle.onTimer1Tick();
    }
    setUpTestEnvironment();
    QCOMPARE(controls.log.at(1), QStringLiteral("Text5 0.6"));   // local: 600 ms in
    QCOMPARE(controls.log.at(4), QStringLiteral("Text5 600.6")); // UTC
    QCOMPARE(controls.log.at(3), QStringLiteral("Text3 522.6")); // 600.6 - 78 s of sweep
}

void TestTracking::clockHealth_data()
{
    QTest::addColumn<std::optional<KernelClock>>("kernel");
    QTest::addColumn<std::optional<QByteArray>>("chrony");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("good"); // --check-clock exits 0
    QTest::addColumn<bool>("bad");  // Start warns

    using K = std::optional<KernelClock>;
    using C = std::optional<QByteArray>;
    const auto chrony
        = [](const char *offset, const char *delay, const char *dispersion, const char *leap) {
              return C(QByteArray("A29FC87B,ntp.example,2,1765100000.1,") + offset
                       + ",-0.000001,0.00002,-1.2,0.001,0.05," + delay + ',' + dispersion + ",64.5,"
                       + leap);
          };
    QTest::newRow("no source") << K() << C() << "Clock state unknown" << false << false;
    QTest::newRow("kernel synchronised, 4 ms")
        << K({false, 3'200}) << C() << "Clock synchronised, within 4 ms" << true << false;
    QTest::newRow("kernel unsynchronised")
        << K({true, 3'200}) << C() << "Clock not synchronised: the radio may miss the chirp"
        << false << true;
    QTest::newRow("kernel error 16 s or more: not synchronised")
        << K({false, 16'000'000}) << C() << "Clock not synchronised: the radio may miss the chirp"
        << false << true;
    QTest::newRow("kernel synchronised, 120 ms")
        << K({false, 120'000}) << C() << "Clock synchronised, within 120 ms" << false << true;
    QTest::newRow("exactly 50 ms")
        << K({false, 50'000}) << C() << "Clock synchronised, within 50 ms" << true << false;
    QTest::newRow("timesyncd writes no error bound")
        << K({false, 0}) << C() << "Clock synchronised" << true << false;
    // chrony: |offset| + delay / 2 + dispersion = 0.000012 + 0.01 / 2 + 0.0004 s.
    QTest::newRow("chrony wins over the kernel's flag")
        << K({true, 16'000'000}) << chrony("-0.000012", "0.010000", "0.000400", "Normal")
        << "Clock synchronised, within 6 ms" << true << false;
    QTest::newRow("chrony not synchronised")
        << K({false, 1'000}) << chrony("0.0", "0.0", "0.0", "Not synchronised")
        << "Clock not synchronised: the radio may miss the chirp" << false << true;
    QTest::newRow("chrony far off") << K() << chrony("0.2", "0.1", "0.01", "Normal")
                                    << "Clock synchronised, within 260 ms" << false << true;
    QTest::newRow("chrony's line unreadable: the kernel's word")
        << K({false, 3'000}) << C("506 Cannot talk to daemon") << "Clock synchronised, within 3 ms"
        << true << false;
}

void TestTracking::clockHealth()
{
    QFETCH(std::optional<KernelClock>, kernel);
    QFETCH(std::optional<QByteArray>, chrony);
    QFETCH(QString, text);
    QFETCH(bool, good);
    QFETCH(bool, bad);
    const ClockHealth health = judgeClock(kernel, chrony);
    QCOMPARE(clockHealthText(health), text);
    QCOMPARE(clockIsGood(health), good);
    QCOMPARE(clockIsBad(health), bad);
}

QTEST_GUILESS_MAIN(TestTracking)
#include "tst_tracking.moc"
