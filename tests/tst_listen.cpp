// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audioclock.h"
#include "chirpdetector.h"
#include "chirpscanner.h"
#include "listener.h"
#include "processprobe.h"
#include "ringbuffer.h"
#include "sounderfinder.h"
#include "stepreading.h"
#include "sweepplan.h"
#include "sweeprecorder.h"
#include "syntheticaudio.h"
#include "testenvironment.h"

#include <QDateTime>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <random>

using namespace Listen;

class tst_Listen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestEnvironment(); }
    void detector_data();
    void detector();
    void detectorThroughEachBand_data();
    void detectorThroughEachBand();
    void detectorHearsARadio_data();
    void detectorHearsARadio();
    void audioClockFollowsTheCard_data();
    void audioClockFollowsTheCard();
    void audioClockAcrossClockSteps_data();
    void audioClockAcrossClockSteps();
    void audioClockSteadyOnABusyMachine_data();
    void audioClockSteadyOnABusyMachine();
    void ringBuffer_data();
    void ringBuffer();
    void stepPlanned_data();
    void stepPlanned();
    void csvRow_data();
    void csvRow();
    void ionogramRows_data();
    void ionogramRows();
    void rowsAreWholeOrAbsent();
    void folderHeldByOne_data();
    void folderHeldByOne();
    void sweepScaledWhenTheNextBegins();
    void dayOfListening();
    void soundersFound_data();
    void soundersFound();
    void rateHeard_data();
    void rateHeard();
};

using Delays = QList<double>;

void tst_Listen::detector_data()
{
    QTest::addColumn<QList<SyntheticEcho>>("echoes");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<bool>("calibrated"); // search 0 to 40 ms, or -50 to 300 ms
    QTest::addColumn<Delays>("expected");
    QTest::addColumn<double>("toleranceMs");
    // 2E/N0 for a tone of 24 ms in 2,400 Hz: the audio's SNR + 10 log10(2 * 57.6) = +20.6 dB,
    // less a few tenths for the template's tapered edges.
    QTest::addColumn<double>("expectedSnrDb");

    const double none = qQNaN();
    QTest::newRow("one hop, +10 dB")
        << QList<SyntheticEcho>{{7.92, 0}} << 10.0 << true << Delays{7.92} << 0.03 << 30.6;
    QTest::newRow("weak, -3 dB") << QList<SyntheticEcho>{{21.37, 0}} << -3.0 << true
                                 << Delays{21.37} << 0.15 << none;
    QTest::newRow("two echoes 1.5 ms apart, 0 and -3 dB")
        << QList<SyntheticEcho>{{12.0, 0}, {13.5, -3}} << 10.0 << true << Delays{12.0, 13.5} << 0.05
        << 30.6;
    QTest::newRow("one hop and two hops") << QList<SyntheticEcho>{{6.2, 0}, {13.9, -6}} << 6.0
                                          << true << Delays{6.2, 13.9} << 0.05 << none;
    QTest::newRow("strong: no side lobes")
        << QList<SyntheticEcho>{{9.0, 0}} << 40.0 << true << Delays{9.0} << 0.01 << none;
    QTest::newRow("uncalibrated, the sound server's 180 ms")
        << QList<SyntheticEcho>{{187.5, 0}} << 3.0 << false << Delays{187.5} << 0.05 << none;
    QTest::newRow("uncalibrated, 40 ms early")
        << QList<SyntheticEcho>{{-40.0, 0}} << 3.0 << false << Delays{-40.0} << 0.05 << none;
    QTest::newRow("calibrated, outside the drawn delays")
        << QList<SyntheticEcho>{{62.0, 0}} << 10.0 << true << Delays{} << 0.0 << none;
    QTest::newRow("noise alone") << QList<SyntheticEcho>{} << 0.0 << false << Delays{} << 0.0
                                 << none;
    QTest::newRow("digital silence")
        << QList<SyntheticEcho>{} << 1000.0 << false << Delays{} << 0.0 << none;
}

void tst_Listen::detector()
{
    QFETCH(QList<SyntheticEcho>, echoes);
    QFETCH(double, snrDb);
    QFETCH(bool, calibrated);
    QFETCH(Delays, expected);
    QFETCH(double, toleranceMs);
    QFETCH(double, expectedSnrDb);

    ListenOptions options;
    if (calibrated)
        options.audioDelayMs = 0;
    const ChirpDetector detector(detectorSettingsFor(options));
    // The arrival between two samples, as it always is.
    const double arrival = detector.blockLeadMs() * 48 + 0.37;
    const auto audio = syntheticAudio(48000, detector.blockSamples(), arrival, echoes, snrDb, 11);
    const Detection found = detector.detect(audio, arrival);

    QCOMPARE(found.echoes.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (std::abs(found.echoes[i].delayMs - expected[i]) > toleranceMs)
            QFAIL(qPrintable(QStringLiteral("echo %1 at %2 ms, not %3 ms")
                                 .arg(i)
                                 .arg(found.echoes[i].delayMs)
                                 .arg(expected[i])));
    }
    if (!qIsNaN(expectedSnrDb))
        QVERIFY2(std::abs(found.echoes.front().snrDb - expectedSnrDb) < 1.5,
                 qPrintable(QString::number(found.echoes.front().snrDb)));
    QVERIFY(std::isfinite(found.peakDb));
    QCOMPARE(found.profileDb.size(), 400);
}

// Each passband and I/Q at literal delays, the dial held from 550 ms before the arrival to
// 400 ms after, as the tuning holds it at 100 kHz/s: a wider band parts closer echoes and
// places them more finely (its resolution 1 / B: 0.42 ms at 2.4 kHz, 0.05 ms at 20 kHz,
// 0.023 ms for 48 kHz I/Q, about 0.01 ms for 192 kHz I/Q over the 100 kHz a step holds).
void tst_Listen::detectorThroughEachBand_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<SyntheticBand>("band");
    QTest::addColumn<QList<SyntheticEcho>>("echoes");
    QTest::addColumn<Delays>("expected");
    QTest::addColumn<double>("toleranceMs");

    const double nan = qQNaN();
    const SyntheticBand ssb{300, 2700, false, false};
    const SyntheticBand wide{300, 20300, false, false};
    const SyntheticBand iq48{-21600, 21600, true, false};
    const SyntheticBand iq192{-86400, 86400, true, false};
    QTest::newRow("2.4 kHz audio")
        << 48000 << ssb << QList<SyntheticEcho>{{10.0, 0}} << Delays{10.0} << 0.03;
    QTest::newRow("3.6 kHz audio") << 48000 << SyntheticBand{300, 3900, false, false}
                                   << QList<SyntheticEcho>{{12.34, 0}} << Delays{12.34} << 0.03;
    QTest::newRow("20 kHz audio: echoes 0.3 ms apart are two")
        << 48000 << wide << QList<SyntheticEcho>{{10.0, 0}, {10.3, -1}} << Delays{10.0, 10.3}
        << 0.01;
    QTest::newRow("48 kHz I/Q: one hop, two hops")
        << 48000 << iq48 << QList<SyntheticEcho>{{7.923, 0}, {8.1, -3}, {21.37, -6}}
        << Delays{7.923, 8.1, 21.37} << 0.004;
    QTest::newRow("96 kHz I/Q: 0.06 ms apart")
        << 96000 << SyntheticBand{-43200, 43200, true, false}
        << QList<SyntheticEcho>{{7.923, 0}, {7.983, -2}} << Delays{7.923, 7.983} << 0.003;
    QTest::newRow("192 kHz I/Q: 0.03 ms apart")
        << 192000 << iq192 << QList<SyntheticEcho>{{31.555, 0}, {31.585, -2}}
        << Delays{31.555, 31.585} << 0.002;
    QTest::newRow("192 kHz I/Q, the passband given")
        << 192000 << SyntheticBand{-50000, 50000, true, false} << QList<SyntheticEcho>{{0.5, 0}}
        << Delays{0.5} << 0.002;
    QTest::newRow("192 kHz I/Q swapped: the chirp falls, no echo")
        << 192000 << SyntheticBand{-86400, 86400, true, true} << QList<SyntheticEcho>{{7.923, 0}}
        << Delays{} << nan;
    QTest::newRow("192 kHz I/Q: noise alone")
        << 192000 << iq192 << QList<SyntheticEcho>{} << Delays{} << 0.0;
}

void tst_Listen::detectorThroughEachBand()
{
    QFETCH(int, rate);
    QFETCH(SyntheticBand, band);
    QFETCH(QList<SyntheticEcho>, echoes);
    QFETCH(Delays, expected);
    QFETCH(double, toleranceMs);

    ListenOptions options;
    options.audioDelayMs = 0;
    options.iq = band.iq;
    // The whole band of 192 kHz I/Q is the options' default.
    if (!(band.iq && band.highHz == 86400))
        options.passbandHz = std::pair(band.lowHz, band.highHz);
    DetectorSettings settings = detectorSettingsFor(options);
    settings.sampleRate = rate;
    settings.dialFromMs = -600;
    settings.dialToMs = 400;
    const ChirpDetector detector(settings);
    const double arrival = detector.blockLeadMs() * rate / 1000 + 0.37;
    // 50 dB-Hz: 2E/N0 = 2 C T / N0 is 29.8 dB through 2.4 kHz (T = 24 ms), 53 dB for
    // 192 kHz I/Q (T nearly the dial's 950 ms).
    const auto audio
        = syntheticBandAudio(rate, detector.blockSamples(), arrival, echoes, 50, 3, band);
    const Detection found
        = detector.detect(audio, arrival, arrival - 0.55 * rate, arrival + 0.4 * rate);

    QCOMPARE(found.lowerSideband, qIsNaN(toleranceMs));
    QCOMPARE(found.echoes.size(), expected.size());
    QList<double> delays;
    for (const Echo &echo : found.echoes)
        delays.append(echo.delayMs);
    std::sort(delays.begin(), delays.end());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (std::abs(delays[i] - expected[i]) > toleranceMs)
            QFAIL(qPrintable(
                QStringLiteral("echo at %1 ms, not %2 ms").arg(delays[i]).arg(expected[i])));
    }
}

// What a radio adds to the audio, each with literal parameters.
enum Radio : int {
    Clean = 0,
    SteadyCarrier = 1, // 20 dB over the passband's noise at 1,234 Hz
    KeyedCarrier = 2,  // the same, keyed on 20 ms before the arrival
    Crashes = 4,       // +30 dB, 0.8 ms, at -120, +5, +18 and +33 ms from the arrival
    Agc = 8,           // 1 ms attack, 300 ms decay, knee at three times the noise's amplitude
    Filter = 16,       // 200 to 2,400 Hz
};

void tst_Listen::detectorHearsARadio_data()
{
    QTest::addColumn<int>("radio");
    QTest::addColumn<QList<SyntheticEcho>>("echoes");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<bool>("calibrated"); // search 0 to 40 ms, or -50 to 300 ms
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("dialFromMs"); // from the arrival
    QTest::addColumn<double>("dialToMs");
    QTest::addColumn<Delays>("expected");
    QTest::addColumn<double>("toleranceMs");
    QTest::addColumn<bool>("lowerSideband");

    const QList<SyntheticEcho> none;
    const QList<SyntheticEcho> one{{13.4, 0}};
    const double inf = qInf();
    const auto all = SteadyCarrier | Crashes | Agc | Filter;
    QTest::newRow("carrier") << int(SteadyCarrier) << one << 0.0 << true << 100.0 << -inf << inf
                             << Delays{13.4} << 0.1 << false;
    QTest::newRow("carrier, noise alone") << int(SteadyCarrier) << none << 0.0 << false << 100.0
                                          << -inf << inf << Delays{} << 0.0 << false;
    QTest::newRow("carrier keyed on, noise alone")
        << int(KeyedCarrier) << none << 0.0 << false << 100.0 << -inf << inf << Delays{} << 0.0
        << false;
    QTest::newRow("crashes") << int(Crashes) << one << 0.0 << true << 100.0 << -inf << inf
                             << Delays{13.4} << 0.1 << false;
    QTest::newRow("crashes, noise alone")
        << int(Crashes) << none << 0.0 << false << 100.0 << -inf << inf << Delays{} << 0.0 << false;
    QTest::newRow("AGC after crashes, noise alone")
        << int(Crashes | Agc) << none << 0.0 << false << 100.0 << -inf << inf << Delays{} << 0.0
        << false;
    // The filter delays the tone: 2.613 / (2 pi 2,400 Hz) = 0.17 ms at its low frequencies,
    // more towards its upper edge.
    QTest::newRow("filter") << int(Filter) << one << 0.0 << true << 100.0 << -inf << inf
                            << Delays{13.4} << 0.45 << false;
    QTest::newRow("filter, noise alone")
        << int(Filter) << none << 0.0 << false << 100.0 << -inf << inf << Delays{} << 0.0 << false;
    QTest::newRow("all together") << int(all) << one << 0.0 << true << 100.0 << -inf << inf
                                  << Delays{13.4} << 0.45 << false;
    QTest::newRow("all together, keyed carrier, noise alone")
        << int(KeyedCarrier | Crashes | Agc | Filter) << none << 0.0 << false << 100.0 << -inf
        << inf << Delays{} << 0.0 << false;
    QTest::newRow("lower sideband") << int(Clean) << QList<SyntheticEcho>{{13.4, 0, true}} << 20.0
                                    << true << 100.0 << -inf << inf << Delays{} << 0.0 << true;
    QTest::newRow("lower sideband, wide search")
        << int(Clean) << QList<SyntheticEcho>{{13.4, 0, true}} << 20.0 << false << 100.0 << -inf
        << inf << Delays{} << 0.0 << true;
    // At 500.0084 kHz/s the dial holds a step 200 ms: the steps before and after chirp 200 ms
    // away, 20 dB stronger, heard on their own dials.
    QTest::newRow("other steps' chirps outside the dial's span")
        << int(Clean) << QList<SyntheticEcho>{{-197, 20}, {8, 0}, {203, 20}} << 10.0 << false
        << 500.0084 << -120.0 << 150.0 << Delays{8} << 0.1 << false;
}

void tst_Listen::detectorHearsARadio()
{
    QFETCH(int, radio);
    QFETCH(QList<SyntheticEcho>, echoes);
    QFETCH(double, snrDb);
    QFETCH(bool, calibrated);
    QFETCH(double, rate);
    QFETCH(double, dialFromMs);
    QFETCH(double, dialToMs);
    QFETCH(Delays, expected);
    QFETCH(double, toleranceMs);
    QFETCH(bool, lowerSideband);

    ListenOptions options;
    options.rateKhzPerS = rate;
    if (calibrated)
        options.audioDelayMs = 0;
    const ChirpDetector detector(detectorSettingsFor(options));
    const double arrival = detector.blockLeadMs() * 48 + 0.37;
    auto audio = syntheticAudio(48000, detector.blockSamples(), arrival, echoes, snrDb, 5, rate);
    const double noise = passbandNoisePower(snrDb);
    if (radio & SteadyCarrier)
        addCarrier(audio, 48000, noise, 20, 1234);
    if (radio & KeyedCarrier)
        addCarrier(audio, 48000, noise, 20, 1234, arrival - 20 * 48);
    if (radio & Crashes) {
        const QList<double> at{
            arrival - 120 * 48, arrival + 5 * 48, arrival + 18 * 48, arrival + 33 * 48};
        addCrashes(audio, 48000, noise, at, 30, 0.8, 6);
    }
    if (radio & Filter)
        applyPassband(audio, 48000, 200, 2400);
    if (radio & Agc)
        applyAgc(audio, 48000, 3 * std::sqrt(noise), 1, 300);
    const Detection found
        = detector.detect(audio, arrival, arrival + dialFromMs * 48, arrival + dialToMs * 48);

    QCOMPARE(found.lowerSideband, lowerSideband);
    QCOMPARE(found.echoes.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i)
        QVERIFY2(std::abs(found.echoes[i].delayMs - expected[i]) <= toleranceMs,
                 qPrintable(QString::number(found.echoes[i].delayMs)));
}

void tst_Listen::audioClockFollowsTheCard_data()
{
    QTest::addColumn<double>("ppm"); // the card's rate against the clock
    QTest::addColumn<double>("hours");
    QTest::addColumn<qint64>("lostAt"); // samples lost once, after this many (0: never)
    QTest::newRow("exact") << 0.0 << 24.0 << qint64(0);
    QTest::newRow("50 ppm fast, a day") << 50.0 << 24.0 << qint64(0);
    QTest::newRow("80 ppm slow, a day") << -80.0 << 24.0 << qint64(0);
    QTest::newRow("50 ppm, 100 ms lost after an hour") << 50.0 << 2.0 << qint64(48000) * 3600;
}

void tst_Listen::audioClockFollowsTheCard()
{
    QFETCH(double, ppm);
    QFETCH(double, hours);
    QFETCH(qint64, lostAt);

    const double cardRate = 48000 * (1 + ppm * 1e-6);
    const double startMs = 1.8e12;
    AudioClock clock(48000);
    std::mt19937 random(3);
    // Deliveries every 20 ms of audio, 2 to 30 ms late, now and then 300 ms late.
    std::uniform_real_distribution<double> late(2, 30);
    qint64 taken = 0;     // samples the card took
    qint64 delivered = 0; // samples the program got
    int gaps = 0;
    const qint64 end = qint64(hours * 3600 * 48000);
    double worstMs = 0;
    while (taken < end) {
        taken += 960;
        delivered += 960;
        if (lostAt > 0 && taken >= lostAt && taken < lostAt + 960)
            delivered -= 4800;
        const double takenAtMs = startMs + double(taken) / cardRate * 1000;
        const double delay = random() % 500 == 0 ? 300 : late(random);
        if (clock.observe(delivered, takenAtMs + delay - startMs, takenAtMs + delay).lost)
            ++gaps;
        // Where the last delivered sample was taken, against where the clock puts it, once
        // two minutes of audio (or after a loss) have settled the line.
        const qint64 settled = qint64(48000) * 120;
        if (taken % (48000 * 60) < 960 && taken > settled
            && (lostAt == 0 || taken < lostAt || taken > lostAt + settled)) {
            const double error = clock.clockAt(double(delivered)) - takenAtMs - 2;
            worstMs = std::max(worstMs, std::abs(error));
            const double back = clock.sampleAt(clock.clockAt(double(delivered)));
            QVERIFY2(std::abs(back - double(delivered)) < 0.05,
                     qPrintable(QStringLiteral("%1 samples apart").arg(back - double(delivered))));
        }
    }
    QVERIFY2(worstMs < 1.0, qPrintable(QStringLiteral("%1 ms off").arg(worstMs)));
    QCOMPARE(gaps, lostAt > 0 ? 1 : 0);
    QVERIFY(std::abs(clock.measuredRate() - cardRate) < 0.01);
}

// A card 50 ppm fast delivering every deliveryMs to a machine whose deliveries come 0.1 to
// 0.5 ms late, one in thirty 10 to 60 ms late; the system clock is 1.8e12 ms ahead of the
// monotonic one, slewed by slewPerS ms a second and stepped by stepMs at stepAtMs.
struct SimulatedCard
{
    double deliveryMs = 10;
    double stepMs = 0;
    double stepAtMs = 1e18;
    double slewPerS = 0;
    qint64 delivered = 0;
    std::mt19937 random{7};

    double takenAtMs(double sample) const { return sample / (48 * (1 + 50e-6)); }
    double offsetMs(double monotonicMs) const
    {
        return 1.8e12 + slewPerS * monotonicMs / 1000 + (monotonicMs >= stepAtMs ? stepMs : 0);
    }
    // Delivers the next block; returns its monotonic time, and any step the clock saw.
    std::pair<double, std::optional<double>> deliver(AudioClock &clock)
    {
        delivered += qint64(deliveryMs * 48);
        const bool busy = random() % 30 == 0;
        const double late
            = std::uniform_real_distribution<double>(busy ? 10 : 0.1, busy ? 60 : 0.5)(random);
        const double at = takenAtMs(double(delivered)) + late;
        return {at, clock.observe(delivered, at, at + offsetMs(at)).clockStepMs};
    }
    // Where the clock puts `sample` against where the system clock, as it reads at nowMs, put
    // it when it was taken, beyond the least delay of 0.1 ms.
    double errorMs(const AudioClock &clock, double sample, double nowMs) const
    {
        const double taken = takenAtMs(sample);
        const double slewed = offsetMs(taken) - (taken >= stepAtMs ? stepMs : 0);
        return clock.clockAt(sample) - taken - slewed - (nowMs >= stepAtMs ? stepMs : 0) - 0.1;
    }
};

void tst_Listen::audioClockAcrossClockSteps_data()
{
    QTest::addColumn<double>("stepMs");
    QTest::addColumn<double>("slewPerS");
    QTest::addColumn<double>("deliveryMs");
    for (const double delivery : {10.0, 250.0}) {
        for (const double step : {-500.0, -20.0, 20.0, 500.0})
            QTest::addRow("%+.0f ms, deliveries of %.0f ms", step, delivery)
                << step << 0.0 << delivery;
        QTest::addRow("slewed 0.5 ms/s, deliveries of %.0f ms", delivery) << 0.0 << 0.5 << delivery;
    }
}

void tst_Listen::audioClockAcrossClockSteps()
{
    QFETCH(double, stepMs);
    QFETCH(double, slewPerS);
    QFETCH(double, deliveryMs);
    // Five minutes of listening, then the step; the chirp a second before the newest audio
    // is placed right from a second after the step on.
    SimulatedCard card{deliveryMs, stepMs, 300'000, slewPerS};
    AudioClock clock(48000);
    QList<double> steps;
    double worstMs = 0;
    for (double now = 0; now < 310'000;) {
        const auto [at, step] = card.deliver(clock);
        now = at;
        if (step)
            steps.append(*step);
        if (now > 301'000)
            worstMs = std::max(worstMs, std::abs(card.errorMs(clock, card.delivered - 48000, now)));
    }
    QCOMPARE(steps.size(), stepMs != 0 ? 1 : 0);
    if (stepMs != 0)
        QVERIFY2(std::abs(steps.first() - stepMs) < 0.5, qPrintable(QString::number(steps[0])));
    QVERIFY2(worstMs < 0.1, qPrintable(QStringLiteral("%1 ms off").arg(worstMs)));
}

void tst_Listen::audioClockSteadyOnABusyMachine_data()
{
    QTest::addColumn<double>("deliveryMs");
    QTest::newRow("10 ms") << 10.0;
    QTest::newRow("250 ms") << 250.0;
}

void tst_Listen::audioClockSteadyOnABusyMachine()
{
    QFETCH(double, deliveryMs);
    // Over a sweep of 281 s two minutes into listening, the mapping stays within 0.05 ms.
    SimulatedCard card{deliveryMs};
    AudioClock clock(48000);
    double least = 1e9;
    double most = -1e9;
    for (double now = 0, next = 120'000; now < 401'000;) {
        now = card.deliver(clock).first;
        if (now >= next) {
            const double error = card.errorMs(clock, card.delivered - 48000, now);
            least = std::min(least, error);
            most = std::max(most, error);
            next += 1000;
        }
    }
    QVERIFY2(most - least < 0.05, qPrintable(QStringLiteral("%1 to %2 ms").arg(least).arg(most)));
    QVERIFY2(std::abs(least) < 0.05, qPrintable(QString::number(least)));
}

void tst_Listen::ringBuffer_data()
{
    // Sample n of the stream is n; the buffer keeps 8.
    QTest::addColumn<QList<int>>("chunks"); // the sizes appended
    QTest::addColumn<qint64>("first");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("copied");
    QTest::newRow("in, not wrapped") << QList<int>{5} << qint64(1) << 3 << true;
    QTest::newRow("across the wrap") << QList<int>{3, 8} << qint64(5) << 4 << true;
    QTest::newRow("from the oldest kept") << QList<int>{3, 8} << qint64(3) << 8 << true;
    QTest::newRow("one overwritten") << QList<int>{3, 8} << qint64(2) << 3 << false;
    QTest::newRow("up to the newest") << QList<int>{3, 8} << qint64(8) << 3 << true;
    QTest::newRow("one not yet in") << QList<int>{3, 8} << qint64(9) << 3 << false;
    QTest::newRow("more than is kept") << QList<int>{3, 8} << qint64(3) << 9 << false;
    QTest::newRow("a chunk longer than kept") << QList<int>{20} << qint64(12) << 8 << true;
    QTest::newRow("before the first") << QList<int>{5} << qint64(-1) << 2 << false;
}

void tst_Listen::ringBuffer()
{
    QFETCH(QList<int>, chunks);
    QFETCH(qint64, first);
    QFETCH(int, length);
    QFETCH(bool, copied);
    RingBuffer ring(8);
    float next = 0;
    for (const int size : chunks) {
        std::vector<float> chunk(size_t(size), 0.0f);
        for (float &sample : chunk)
            sample = next++;
        ring.append(chunk);
    }
    QCOMPARE(ring.total(), qint64(next));
    std::vector<float> out(size_t(length), -1.0f);
    QCOMPARE(ring.copy(first, out), copied);
    for (int n = 0; n < length; ++n)
        QCOMPARE(out[size_t(n)], copied ? float(first + n) : -1.0f);
}

void tst_Listen::stepPlanned_data()
{
    QTest::addColumn<qint32>("chirpPositionMs"); // the tick's, lead and offset included
    QTest::addColumn<qint16>("offsetMs");
    QTest::addColumn<qint32>("stepHz");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("arrivalAfterTickMs"); // -1: nothing to plan
    QTest::addColumn<double>("movedOnAfterTickMs"); // when the schedule moves the dial on

    const qint16 none = 0;
    QTest::newRow("the step's first tick")
        << 143'000 << none << 14'300'000 << 100.0 << 600.0 << 1000.0;
    QTest::newRow("its sixth") << 143'500 << none << 14'300'000 << 100.0 << 100.0 << 500.0;
    QTest::newRow("chirp already past the dial")
        << 143'650 << none << 14'300'000 << 100.0 << -1.0 << 0.0;
    QTest::newRow("waiting at 2 MHz for the sweep")
        << 12'000 << none << 2'000'000 << 100.0 << -1.0 << 0.0;
    QTest::newRow("2 MHz, the sweep due in 1.9 s")
        << 18'700 << none << 2'000'000 << 100.0 << 1900.0 << 2300.0;
    QTest::newRow("the sweep reaches 2 MHz")
        << 20'050 << none << 2'000'000 << 100.0 << 550.0 << 950.0;
    // Past 30 MHz the radio waits at 2 MHz: 30 MHz is left 1 ms after it was set.
    QTest::newRow("30 MHz, left before the chirp comes")
        << 300'000 << none << 30'000'000 << 100.0 << -1.0 << 0.0;
    QTest::newRow("waiting after the sweep")
        << 301'000 << none << 2'000'000 << 100.0 << -1.0 << 0.0;
    // The offset trims the tuning; the sounder stays where its schedule puts it: 14.5 s into
    // the sweep, 7 MHz is 13,999.7648 ms in at 500.0084 kHz/s, 7.1 MHz 14,199.7614 ms.
    QTest::newRow("500.0084 kHz/s, offset -500 ms")
        << 14'000 << qint16(-500) << 7'000'000 << 500.0084 << 99.7648 << 199.7614;
    // Without the offset the tuning is 600 ms ahead: the dial holds 7.3 MHz for 200 ms and
    // leaves it 400 ms before the chirp comes.
    QTest::newRow("500.0084 kHz/s, the dial gone before the chirp")
        << 14'600 << none << 7'300'000 << 500.0084 << -1.0 << 0.0;
    QTest::newRow("125 kHz/s") << 56'000 << none << 7'000'000 << 125.0 << 600.0 << 800.0;
}

void tst_Listen::stepPlanned()
{
    QFETCH(qint32, chirpPositionMs);
    QFETCH(qint16, offsetMs);
    QFETCH(qint32, stepHz);
    QFETCH(double, rate);
    QFETCH(double, arrivalAfterTickMs);
    QFETCH(double, movedOnAfterTickMs);

    Tracking::StepResult step;
    step.periodMs = 300'000;
    step.chirpPositionMs = chirpPositionMs;
    step.offsetMs = offsetMs;
    step.stepHz = stepHz;
    const qint64 tickMs = 1'796'700'000'000;
    const auto planned = planStep(tickMs, step, {300'000, 0, rate});
    QCOMPARE(planned.has_value(), arrivalAfterTickMs >= 0);
    if (planned) {
        QVERIFY(std::abs(planned->arrivalMs - double(tickMs) - arrivalAfterTickMs) < 1e-3);
        QCOMPARE(planned->dialHz, stepHz);
        QCOMPARE(planned->sweepStartMs, tickMs + 600 - (qint64(chirpPositionMs) - offsetMs));
        QCOMPARE(planned->dialFromMs, double(tickMs));
        QVERIFY(std::abs(planned->dialToMs - double(tickMs) - movedOnAfterTickMs) < 1e-3);
        QCOMPARE(planned->rateKhzPerS, rate);
    }
}

void tst_Listen::csvRow_data()
{
    QTest::addColumn<QList<Echo>>("echoes");
    QTest::addColumn<double>("snrDb");
    QTest::addColumn<bool>("iq");
    QTest::addColumn<QByteArray>("row");
    QTest::newRow("two echoes") << QList<Echo>{{7.918, 18.04}, {15.2, 14.0}} << 18.04 << false
                                << QByteArray(
                                       "2026-12-08T03:20:23.600Z,14300000,18.0,7.92 15.20\n");
    QTest::newRow("nothing heard")
        << QList<Echo>{} << 9.26 << false << QByteArray("2026-12-08T03:20:23.600Z,14300000,9.3,\n");
    QTest::newRow("before the expected time")
        << QList<Echo>{{-0.004, 21.0}} << 21.0 << false
        << QByteArray("2026-12-08T03:20:23.600Z,14300000,21.0,0.00\n");
    QTest::newRow("through I/Q: to the microsecond")
        << QList<Echo>{{7.9184, 18.04}, {-0.0004, 14.0}} << 18.04 << true
        << QByteArray("2026-12-08T03:20:23.600Z,14300000,18.0,7.918 0.000\n");
}

void tst_Listen::csvRow()
{
    QFETCH(QList<Echo>, echoes);
    QFETCH(double, snrDb);
    QFETCH(bool, iq);
    QFETCH(QByteArray, row);
    ListenOptions options;
    options.iq = iq;
    StepReading reading;
    reading.delayDecimals = delayDecimals(options);
    // The sweep passed 0 Hz at 03:18:00.600 UTC and 14.3 MHz 143 s later.
    const qint64 start
        = QDateTime(QDate(2026, 12, 8), QTime(3, 18, 0, 600), QTimeZone::utc()).toMSecsSinceEpoch();
    reading.step = {start, 14'300'000, double(start + 143'000)};
    reading.echoes = echoes;
    reading.snrDb = snrDb;
    QCOMPARE(Listen::csvRow(reading), row);
    QCOMPARE(sweepFileStem(start), QStringLiteral("20261208-031800Z"));
}

// The ionogram's rows: a tenth of a ms through SSB audio, as fine as half a wide band's
// resolution (1 / B) allows, 50 to 500 over the delays drawn.
void tst_Listen::ionogramRows_data()
{
    QTest::addColumn<double>("fromMs");
    QTest::addColumn<double>("toMs");
    QTest::addColumn<double>("bandHz"); // 0: I/Q's whole band, taken at 48 kHz
    QTest::addColumn<int>("rows");
    QTest::newRow("2.4 kHz audio") << 0.0 << 40.0 << 2400.0 << 400;
    QTest::newRow("2.4 kHz audio, 5 ms") << 5.0 << 10.0 << 2400.0 << 50;
    QTest::newRow("20 kHz audio, 5 ms: 25 us a row") << 5.0 << 10.0 << 20000.0 << 200;
    QTest::newRow("I/Q, 3 ms: 11.6 us a row") << 5.0 << 8.0 << 0.0 << 259;
    QTest::newRow("I/Q, 40 ms: at most 500") << 0.0 << 40.0 << 0.0 << 500;
    QTest::newRow("100 kHz of I/Q, 2 ms: 5 us a row") << 5.0 << 7.0 << 100000.0 << 400;
}

void tst_Listen::ionogramRows()
{
    QFETCH(double, fromMs);
    QFETCH(double, toMs);
    QFETCH(double, bandHz);
    QFETCH(int, rows);
    ListenOptions options;
    options.delayFromMs = fromMs;
    options.delayToMs = toMs;
    options.iq = bandHz == 0 || bandHz > 40000;
    if (bandHz > 0)
        options.passbandHz
            = std::pair(options.iq ? -bandHz / 2 : 300, (options.iq ? bandHz / 2 : 300 + bandHz));
    QCOMPARE(delayRows(options), rows);
    QCOMPARE(detectorSettingsFor(options).profileBins, rows);
}

void tst_Listen::rowsAreWholeOrAbsent()
{
    // A folder that cannot be made (under a file) is said, and nothing is written.
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SweepRecorder blocked(dir.filePath(QStringLiteral("file/ionograms")));
    QSignalSpy problems(&blocked, &SweepRecorder::problem);
    StepReading reading;
    reading.step = {1'796'700'000'000, 2'000'000, 1'796'700'020'000};
    blocked.writeRow(reading);
    QCOMPARE(problems.size(), 1);
    QCOMPARE(problems.first().first().toString(),
             QStringLiteral("Cannot make the folder %1.")
                 .arg(QDir::toNativeSeparators(dir.filePath(QStringLiteral("file/ionograms")))));

    // Written rows survive a restart in the same sweep: the header once, the rows after.
    for (int run = 0; run < 2; ++run) {
        SweepRecorder recorder(dir.filePath(QStringLiteral("ionograms")));
        reading.step.dialHz = 2'000'000 + run * 100'000;
        recorder.writeRow(reading);
    }
    QFile csv(dir.filePath(QStringLiteral("ionograms/20261208-032000Z.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll(),
             QByteArray("time_utc,frequency_hz,snr_db,delays_ms\n"
                        "2026-12-08T03:20:20.000Z,2000000,0.0,\n"
                        "2026-12-08T03:20:20.000Z,2100000,0.0,\n"));
}

void tst_Listen::folderHeldByOne_data()
{
    QTest::addColumn<bool>("holderLives");
    QTest::addColumn<QByteArray>("rowsAdded"); // by the second recorder
    QTest::newRow("a Zarvotel writes there") << true << QByteArray();
    QTest::newRow("a Zarvotel died there")
        << false << QByteArray("2026-12-08T03:20:20.000Z,2100000,0.0,\n");
}

// A recorder writes nowhere another living Zarvotel holds; it takes over a dead one's lock.
void tst_Listen::folderHeldByOne()
{
    QFETCH(bool, holderLives);
    QFETCH(QByteArray, rowsAdded);
    QTemporaryDir dir;
    StepReading reading;
    reading.step = {1'796'700'000'000, 2'000'000, 1'796'700'020'000};
    SweepRecorder(dir.path()).writeRow(reading);

    // The holder's lock as Qt writes it, naming this process or one that has ended.
    QProcess ended;
    ended.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-functions")});
    QVERIFY(ended.waitForStarted());
    const qint64 holder = holderLives ? QCoreApplication::applicationPid() : ended.processId();
    QVERIFY(ended.waitForFinished());
    QFile lock(dir.filePath(QStringLiteral(".zarvotel.lock")));
    QByteArray lockText;
    {
        QLockFile mine(lock.fileName());
        QVERIFY(mine.tryLock(0) && lock.open(QIODevice::ReadOnly));
        lockText = lock.readAll();
        lock.close();
    }
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(holder) + lockText.mid(lockText.indexOf('\n')));
    lock.close();

    SweepRecorder second(dir.path());
    QSignalSpy problems(&second, &SweepRecorder::problem);
    reading.step.dialHz = 2'100'000;
    second.writeRow(reading);
    second.savePicture(reading.step.sweepStartMs, QImage(4, 4, QImage::Format_RGB32));
    QFile csv(dir.filePath(QStringLiteral("20261208-032000Z.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll(),
             "time_utc,frequency_hz,snr_db,delays_ms\n2026-12-08T03:20:20.000Z,2000000,0.0,\n"
                 + rowsAdded);
    QCOMPARE(QFile::exists(dir.filePath(QStringLiteral("20261208-032000Z.png"))), !holderLives);
    QCOMPARE(problems.size(), holderLives ? 2 : 0);
    if (!holderLives)
        return;
    const QString refused = QStringLiteral("The ionogram folder %1 is in use by another Zarvotel "
                                           "(process %2); give another with --ionograms.")
                                .arg(QDir::toNativeSeparators(dir.path()))
                                .arg(holder);
    QCOMPARE(problems.last().first().toString(), refused);
    // Listening says so as soon as it starts.
    ListenOptions options;
    options.folder = dir.path();
    Listener listener(options);
    QSignalSpy said(&listener, &Listener::fileProblem);
    QTRY_COMPARE(said.size(), 1);
    QCOMPARE(said.first().first().toString(), refused);
}

// A sweep whose 29.9 MHz step never came is scaled from its file when the next begins, and
// the status line says so under its first line.
void tst_Listen::sweepScaledWhenTheNextBegins()
{
    QTemporaryDir dir;
    // The sweep of 10:05 UTC, heard from 5.0 to 5.5 MHz (written before a restart).
    QFile csv(dir.filePath(QStringLiteral("20261208-100500Z.csv")));
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("time_utc,frequency_hz,snr_db,delays_ms\n"
              "2026-12-08T10:05:50.000Z,5000000,17.3,10.00\n"
              "2026-12-08T10:05:51.000Z,5100000,17.3,10.10\n"
              "2026-12-08T10:05:52.000Z,5200000,17.3,10.20\n"
              "2026-12-08T10:05:53.000Z,5300000,17.3,10.30\n"
              "2026-12-08T10:05:54.000Z,5400000,17.3,10.40\n"
              "2026-12-08T10:05:55.000Z,5500000,17.3,10.50\n");
    csv.close();
    ListenOptions options;
    options.folder = dir.path();
    Listener listener(options);
    QSignalSpy scaled(&listener, &Listener::sweepScaled);
    QSignalSpy plotted(&listener, &Listener::dayPlotChanged);
    // 14.3 MHz, 143 s into the sweep of 10:05:00 UTC, then into the next one.
    Tracking::StepResult step;
    step.periodMs = 300'000;
    step.chirpPositionMs = 143'000;
    step.stepHz = 14'300'000;
    const Tracking::Sounder sounder{300'000, 78'000, 100};
    const qint64 tickMs = QDateTime(QDate(2026, 12, 8), QTime(10, 7, 22, 400), QTimeZone::utc())
                              .toMSecsSinceEpoch();
    listener.onStepTaken(tickMs, step, sounder);
    listener.onStepTaken(tickMs + 300'000, step, sounder);
    QTRY_COMPARE(scaled.size(), 1);
    QCOMPARE(plotted.size(), 1);
    QCOMPARE(listener.status().section(u'\n', 1),
             QStringLiteral("Sweep of 10:05 UTC: MOF 5.5 MHz (10.50 ms); open: 60 m"));
    QFile summary(dir.filePath(QStringLiteral("20261208-summary.csv")));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    QCOMPARE(summary.readAll(),
             QByteArray("time_utc,period_s,chirptime_s,rate_khz_s,mof_hz,mof_delay_ms,mof2_hz,"
                        "mof2_delay_ms,steps_heard,steps_measured\n"
                        "2026-12-08T10:05:00.000Z,300,78,100,5500000,10.50,,,6,6\n"));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("20261208-mof.png"))));
}

// A day of listening (make soak; ten minutes otherwise): a step a second through the clock
// mapping, the detector and the files, and the memory they hold stays flat.
void tst_Listen::dayOfListening()
{
    const int steps = soakRun() ? 86'400 : 600;
    QTemporaryDir dir;
    SweepRecorder recorder(dir.path());
    ListenOptions options;
    const ChirpDetector detector(detectorSettingsFor(options));
    AudioClock clock(48000);
    const double arrival = detector.blockLeadMs() * 48 + 0.5;
    const auto audio = syntheticAudio(48000, detector.blockSamples(), arrival, {{6.5, 0}}, 0, 5);
    const qint64 startMs = 1'796'700'000'000;
    qint64 before = 0;
    for (int step = 0; step < steps; ++step) {
        for (int delivery = 0; delivery < 50; ++delivery) {
            const qint64 sample = (qint64(step) * 50 + delivery + 1) * 960;
            clock.observe(sample, double(sample) / 48.0 + 3, double(startMs + sample / 48) + 3);
        }
        const Detection found = detector.detect(audio, arrival);
        QCOMPARE(found.echoes.size(), 1);
        StepReading reading;
        reading.step = {startMs + step / 300 * 300'000,
                        2'000'000 + step % 281 * 100'000,
                        double(startMs + qint64(step) * 1000)};
        reading.echoes = found.echoes;
        recorder.writeRow(reading);
        if (step == steps / 10)
            before = residentKiB();
    }
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.csv")}, QDir::Files).size(),
             (steps + 299) / 300);
    // Resident memory is read from /proc (Linux).
    const qint64 growth = residentKiB() - before;
    if (residentMemoryIsMeaningful && before > 0)
        QVERIFY2(growth < 1024, qPrintable(QStringLiteral("%1 KiB more").arg(growth)));
}

struct Heard
{
    double daySeconds; // since UTC midnight
    double rate;
    double snrDb = 17.5;
};
using HeardList = QList<Heard>;

void tst_Listen::soundersFound_data()
{
    QTest::addColumn<QList<double>>("periods");
    QTest::addColumn<double>("audioDelayMs");
    QTest::addColumn<HeardList>("heard"); // chirps crossing a dial parked at 7 MHz
    QTest::addColumn<QStringList>("lines");

    const QList<double> all = candidatePeriods();
    // 7 MHz is 70 s into a 100 kHz/s sweep and 56 s into a 125 kHz/s one; the first echo
    // comes 20 ms after.
    QTest::newRow("Inskip, twice 300 s apart")
        << all << 0.0 << HeardList{{148.02, 100}, {448.02, 100}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB"};
    QTest::newRow("two sounders in one period")
        << all << 0.0 << HeardList{{148.02, 100}, {315.01, 100}, {448.02, 100}, {615.01, 100}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB",
                       "sounder: period 300 s, chirptime 245.01 s, rate 100 kHz/s, snr 17.5 dB"};
    QTest::newRow("the 450 s radar's four chirps")
        << all << 0.0
        << HeardList{{73.07, 125},
                     {163.07, 125},
                     {343.07, 125},
                     {433.07, 125},
                     {523.07, 125},
                     {613.07, 125},
                     {793.07, 125},
                     {883.07, 125}}
        << QStringList{"sounder: period 450 s, chirptime 17.07 s, rate 125 kHz/s, snr 17.5 dB",
                       "sounder: period 450 s, chirptime 107.07 s, rate 125 kHz/s, snr 17.5 dB",
                       "sounder: period 450 s, chirptime 287.07 s, rate 125 kHz/s, snr 17.5 dB",
                       "sounder: period 450 s, chirptime 377.07 s, rate 125 kHz/s, snr 17.5 dB"};
    QTest::newRow("drifting 3 ms a period")
        << all << 0.0 << HeardList{{148.020, 100}, {448.023, 100}, {748.026, 100}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB, "
                       "heard 3 times within 6.0 ms"};
    // 148.02 s - 70 s = 78.02 s, mod 600 s and mod 300 s alike.
    QTest::newRow("a chirp missed: twice the period until a hearing needs the period")
        << all << 0.0 << HeardList{{148.02, 100}, {748.02, 100}}
        << QStringList{"sounder: period 600 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB"};
    QTest::newRow("a chirp missed, then heard again")
        << all << 0.0
        << HeardList{{148.02, 100}, {748.02, 100}, {1048.02, 100}, {1348.02, 100}, {1648.02, 100}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB, "
                       "heard 5 times within 0.0 ms"};
    QTest::newRow("60 s is shorter than a 100 kHz/s sweep")
        << all << 0.0 << HeardList{{148.02, 100}, {208.02, 100}, {268.02, 100}} << QStringList{};
    // At 82 kHz/s the same arrivals give 148.016 s - 85.366 s = 62.65 s: not a sounder.
    QTest::newRow("one chirp at two rates, the better one first or last")
        << all << 0.0
        << HeardList{{148.016, 82, 11}, {148.020, 100, 19}, {448.020, 100, 19}, {448.016, 82, 11}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 19.0 dB"};
    QTest::newRow("no period fits")
        << all << 0.0 << HeardList{{148.02, 100}, {398.02, 100}} << QStringList{};
    QTest::newRow("another rate a period later")
        << all << 0.0 << HeardList{{148.02, 100}, {448.02, 125}} << QStringList{};
    QTest::newRow("an echo of the same chirp")
        << all << 0.0 << HeardList{{148.02, 100}, {148.03, 100}, {448.02, 100}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB"};
    QTest::newRow("one period given: once is enough, across midnight")
        << QList<double>{60} << 0.0 << HeardList{{86'399.5, 500.0084}}
        << QStringList{"sounder: period 60 s, chirptime 45.50 s, rate 500.0084 kHz/s, snr 17.5 dB"};
    QTest::newRow("the audio path's delay taken off")
        << QList<double>{300} << 30.0 << HeardList{{148.05, 100}}
        << QStringList{"sounder: period 300 s, chirptime 78.02 s, rate 100 kHz/s, snr 17.5 dB"};
}

void tst_Listen::soundersFound()
{
    QFETCH(QList<double>, periods);
    QFETCH(double, audioDelayMs);
    QFETCH(HeardList, heard);
    QFETCH(QStringList, lines);

    SounderFinder finder(7'000'000, periods, audioDelayMs);
    const double midnightMs = 1'796'688'000'000; // 2026-12-08 00:00 UTC
    for (const Heard &h : heard)
        finder.add({midnightMs + h.daySeconds * 1000, h.daySeconds * 1000, h.rate, h.snrDb});
    finder.settle();
    QStringList found;
    for (const FoundSounder &sounder : finder.sounders())
        found.append(sounderLine(sounder, finder.hearingsToFind()));
    QCOMPARE(found, lines);
}

void tst_Listen::rateHeard_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QList<SyntheticEcho>>("echoes"); // after the arrival, 412.3 ms in
    QTest::addColumn<double>("heardMs");              // the strongest echo's arrival
    QTest::addColumn<bool>("iq");                     // 48 kHz I/Q, not 2.4 kHz audio

    const QList<SyntheticEcho> oneHop{{0, 0}, {6, -6}};
    // E, F2's low and high ray and two hops within 1.3 ms, and the sky's E, F2 and two hops at
    // 7 MHz over 1,500 km: they add in phase in places, where the chirp's own tone then stands
    // several times over its mean.
    const QList<SyntheticEcho> fourModes{{5.1, 0}, {5.3, -3}, {5.9, -3}, {6.4, -6}};
    const QList<SyntheticEcho> skyModes{{5.08, -3}, {5.53, 0}, {5.94, -6}};
    for (const double rate : {100.0, 125.0, 500.0084, 50.0, 82.0}) {
        const QByteArray name = QByteArray::number(rate) + " kHz/s";
        QTest::newRow(name + ", one hop") << rate << oneHop << 412.3 << false;
        QTest::newRow(name + ", four modes") << rate << fourModes << 417.4 << false;
        QTest::newRow(name + ", the sky's three modes") << rate << skyModes << 417.83 << false;
    }
    for (const double rate : {100.0, 500.0084, 50.0}) {
        const QByteArray name = QByteArray::number(rate) + " kHz/s";
        QTest::newRow(name + ", I/Q, the sky's three modes") << rate << skyModes << 417.83 << true;
    }
}

// A chirp crossing a parked dial is heard once, at its own rate, where its strongest echo
// arrived, however many modes bring it.
void tst_Listen::rateHeard()
{
    QFETCH(double, rate);
    QFETCH(QList<SyntheticEcho>, echoes);
    QFETCH(double, heardMs);
    QFETCH(bool, iq);
    DetectorSettings input;
    input.iq = iq;
    input.lowHz = iq ? -21600 : 300;
    input.highHz = iq ? 21600 : 2700;
    const ChirpScanner scanner(input, candidateRates());
    // 412.3 ms into the block's second searched.
    const double lead = double(scanner.leadSamples());
    const double arrival = lead + 412.3 * 48;
    for (const unsigned seed : {3U, 4U, 5U}) {
        // SNR 10 dB in 2.4 kHz: a C/N0 of 43.8 dB-Hz.
        const auto audio
            = iq ? syntheticBandAudio(48000,
                                      scanner.blockSamples(),
                                      arrival,
                                      echoes,
                                      43.8,
                                      seed,
                                      SyntheticBand{-21600, 21600, true, false},
                                      rate)
                 : syntheticAudio(48000, scanner.blockSamples(), arrival, echoes, 10, seed, rate);
        const auto hits = scanner.scan(audio);
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.first().rateKhzPerS, rate);
        const double heard = hits.first().offsetMs - lead / 48;
        QVERIFY2(std::abs(heard - heardMs) < (iq ? 0.01 : 0.1), qPrintable(QString::number(heard)));
    }
}

QTEST_GUILESS_MAIN(tst_Listen)
#include "tst_listen.moc"
