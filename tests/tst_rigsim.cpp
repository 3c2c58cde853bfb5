// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

// rigsim's receiver: the dial read from each program's commands, the sky's echoes, the
// audio's timing and noise, and the real-time writer in the real rigsim (Linux-only: a FIFO).

#include "skyaudio.h"
#include "soundserver.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <sys/stat.h>
#include <vector>

using namespace Sky;

namespace {

qint64 utcNs(int day, int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, day), QTime(h, m, s), Qt::UTC).toMSecsSinceEpoch() * 1'000'000;
}

// A tone's amplitude at hz in samples (a whole number of its cycles, for no leakage).
double toneAmplitude(std::span<const qint16> samples, double hz)
{
    double re = 0, im = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double phase = 2 * std::numbers::pi * hz * double(i) / SampleRate;
        re += samples[i] * std::cos(phase);
        im += samples[i] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / double(samples.size());
}

double meanPower(std::span<const qint16> samples)
{
    double sum = 0;
    for (const qint16 sample : samples)
        sum += double(sample) * sample;
    return sum / double(samples.size());
}

// An ionosphere that returns nothing: the receiver's own sounds alone.
Ionosphere silentSky()
{
    Ionosphere sky;
    sky.levelsDb = {};
    return sky;
}
const Ionosphere Silent = silentSky();

// One echo at every frequency of the sweep, F2's one hop below its critical frequency over
// 1500 km: a layer of 32 MHz, no E, the other modes off. Its delays, worked out apart from
// the code (spherical earth, the parabolic layer's group height, 200,000 vertical
// frequencies): 2.5015 MHz 5.25093 ms, 6.9985 MHz 5.25176, 7.0015 MHz 5.25176, 11 MHz
// 5.25319, 11.0015 MHz 5.25319, 13.9015 MHz 5.25465, 29.9015 MHz 5.27030.
Ionosphere denseSky()
{
    Ionosphere sky;
    sky.f2 = {32e6, 300, 100};
    sky.e.reset();
    sky.levelsDb = {std::nullopt, 0.0, std::nullopt, std::nullopt};
    return sky;
}

// From startNs on, in 10 ms blocks as rigsim writes them.
std::vector<qint16> renderBlocks(SkyAudio &audio, qint64 startNs, int ms)
{
    std::vector<qint16> samples(size_t(ms) * 48);
    for (size_t at = 0; at < samples.size(); at += 480)
        audio.render(startNs + qint64(at) * 62'500 / 3, std::span(samples).subspan(at, 480));
    return samples;
}

// The echo of denseSky() at 7 MHz reaches a dial there 70 s after 00:01:18 plus 5.25176 ms.
const qint64 ArrivalAt7MHz = utcNs(8, 0, 1, 18) + 70'005'251'760;

// A receiver at rateHz: real audio up to highHz, or I/Q ("iq"), with I and Q swapped ("swap")
// or Q silent ("silent q").
Receiver receiverAt(int rateHz, const QString &form, double highHz = 2700)
{
    Receiver receiver;
    receiver.rateHz = rateHz;
    receiver.highHz = highHz;
    receiver.iq = form != "real";
    receiver.iqSwapped = form == "swap";
    receiver.iqSilentQ = form == "silent q";
    return receiver;
}

// Samples (mono, or frames of I and Q) as complex values: the real audio's with Q = 0.
std::vector<std::complex<double>> asComplex(std::span<const qint16> samples, bool iq)
{
    std::vector<std::complex<double>> z;
    for (size_t i = 0; i < samples.size(); i += iq ? 2 : 1)
        z.emplace_back(samples[i], iq ? samples[i + 1] : 0);
    return z;
}

// |DFT|^2 of z at hz.
double binPower(std::span<const std::complex<double>> z, double hz, int rateHz)
{
    std::complex<double> sum, turn(1), step = std::polar(1.0, -2 * std::numbers::pi * hz / rateHz);
    for (const auto sample : z) {
        sum += sample * turn;
        turn *= step;
    }
    return std::norm(sum);
}

} // namespace

class TestRigsim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { setUpTestEnvironment(); }

    void frequencyFromCommand_data();
    void frequencyFromCommand();
    void obliqueRay_data();
    void obliqueRay();
    void groupHeight_data();
    void groupHeight();
    void echoes_data();
    void echoes();
    void mof_data();
    void mof();
    void fastDayMovesF2();
    void badSkyOptions_data();
    void badSkyOptions();
    void truthFile();
    void chirpStart_data();
    void chirpStart();
    void sounderFromText_data();
    void sounderFromText();
    void passageArrivesAfterTheEchoDelay_data();
    void passageArrivesAfterTheEchoDelay();
    void noiseAtTheRequestedSnrWithoutClipping_data();
    void noiseAtTheRequestedSnrWithoutClipping();
    void carrierAndFilter_data();
    void carrierAndFilter();
    void crashes();
    void agcDropsFastAndRecoversInItsDecay();
    void retuneLatencyAndMute_data();
    void retuneLatencyAndMute();
    void lowerSidebandChirpFallsBeforeTheArrival();
    void chirpAtItsFrequency_data();
    void chirpAtItsFrequency();
    void sameCarrierToNoiseDensityInEitherForm_data();
    void sameCarrierToNoiseDensityInEitherForm();
    void iqIntoTheSoundServer();
    void fifoWithoutReaderLeavesCommandsAnswered();
};

void TestRigsim::frequencyFromCommand_data()
{
    QTest::addColumn<Peer::Dialect>("dialect");
    QTest::addColumn<bool>("vfoMode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("hz"); // -1: sets no frequency

    using D = Peer::Dialect;
    QTest::newRow("hrd-text") << D::HrdText << false << "set frequency-hz 7100000" << 7100000LL;
    QTest::newRow("hrd-text other") << D::HrdText << false << "get frequency" << -1LL;
    QTest::newRow("hrd context") << D::Hrd << false << "[1] set frequency-hz 14100000"
                                 << 14100000LL;
    QTest::newRow("hrd no context") << D::Hrd << false << "set frequency-hz 3500000" << 3500000LL;
    QTest::newRow("rigctld") << D::Rigctld << false << "F 2000000" << 2000000LL;
    QTest::newRow("rigctld get") << D::Rigctld << false << "f" << -1LL;
    QTest::newRow("rigctld VFO unasked") << D::Rigctld << false << "F currVFO 2000000" << -1LL;
    QTest::newRow("rigctld -o") << D::Rigctld << true << "F currVFO 2100000" << 2100000LL;
    QTest::newRow("rigctld -o no VFO") << D::Rigctld << true << "F 2100000" << -1LL;
    QTest::newRow("flrig double") << D::Flrig << false << "rig.set_frequency 7000000.6"
                                  << 7000001LL;
    QTest::newRow("flrig get") << D::Flrig << false << "rig.get_vfo" << -1LL;
    QTest::newRow("negative") << D::Rigctld << false << "F -5" << -1LL;
    QTest::newRow("not a number") << D::HrdText << false << "set frequency-hz 7e" << -1LL;
}

void TestRigsim::frequencyFromCommand()
{
    QFETCH(Peer::Dialect, dialect);
    QFETCH(bool, vfoMode);
    QFETCH(QString, text);
    QFETCH(qint64, hz);
    QCOMPARE(Peer::frequencyHz(dialect, text, vfoMode).value_or(-1), hz);
}

void TestRigsim::obliqueRay_data()
{
    // Law of cosines and of sines in the triangle of the earth's centre, the path's end and
    // the mirror over its middle (R 6371 km); the MUF factor is 1 / cos(incidence). A flat
    // earth would give 2.693 for 1500 km under 300 km.
    QTest::addColumn<double>("mirrorKm");
    QTest::addColumn<double>("pathKm");
    QTest::addColumn<double>("sinIncidence");
    QTest::addColumn<double>("groupPathKm");
    QTest::addColumn<double>("mufFactor");
    QTest::addColumn<bool>("seen"); // over the horizon at the ends

    QTest::newRow("500 km under 300 km")
        << 300.0 << 500.0 << 0.633949 << 788.504 << 1.293035 << true;
    QTest::newRow("1500 km under 300 km")
        << 300.0 << 1500.0 << 0.908541 << 1647.188 << 2.393512 << true;
    QTest::newRow("3000 km under 300 km")
        << 300.0 << 3000.0 << 0.952389 << 3120.952 << 3.279915 << true;
    QTest::newRow("3000 km under 100 km")
        << 100.0 << 3000.0 << 0.983217 << 3023.097 << 5.481249 << false;
}

void TestRigsim::obliqueRay()
{
    QFETCH(double, mirrorKm);
    QFETCH(double, pathKm);
    QFETCH(double, sinIncidence);
    QFETCH(double, groupPathKm);
    QFETCH(double, mufFactor);
    QFETCH(bool, seen);
    const ObliqueRay ray = Sky::obliqueRay(mirrorKm, pathKm);
    QVERIFY(std::abs(ray.sinIncidence - sinIncidence) < 1e-6);
    QVERIFY(std::abs(ray.groupPathKm - groupPathKm) < 1e-3);
    QVERIFY(std::abs(1 / std::sqrt(1 - ray.sinIncidence * ray.sinIncidence) - mufFactor) < 1e-5);
    QCOMPARE(ray.elevationRad >= 0, seen);
}

void TestRigsim::groupHeight_data()
{
    // hm - ym + ym / 2 (f / fc) ln((1 + f / fc) / (1 - f / fc)): 200 + 25 ln 3, 200 + 45 ln 19,
    // 90 + 5 ln 3. -1: none.
    QTest::addColumn<double>("foMHz");
    QTest::addColumn<double>("hmKm");
    QTest::addColumn<double>("ymKm");
    QTest::addColumn<double>("fMHz");
    QTest::addColumn<double>("heightKm");

    QTest::newRow("F2, half") << 10.0 << 300.0 << 100.0 << 5.0 << 227.4653;
    QTest::newRow("F2, 0.9") << 10.0 << 300.0 << 100.0 << 9.0 << 332.4998;
    QTest::newRow("E, half") << 3.0 << 110.0 << 20.0 << 1.5 << 95.4931;
    QTest::newRow("at the critical frequency") << 3.0 << 110.0 << 20.0 << 3.0 << -1.0;
}

void TestRigsim::groupHeight()
{
    QFETCH(double, foMHz);
    QFETCH(double, hmKm);
    QFETCH(double, ymKm);
    QFETCH(double, fMHz);
    QFETCH(double, heightKm);
    const auto height = groupHeightKm(Layer{foMHz * 1e6, hmKm, ymKm}, fMHz * 1e6);
    QCOMPARE(height.has_value(), heightKm >= 0);
    if (height)
        QVERIFY2(std::abs(*height - heightKm) < 1e-4, qPrintable(QString::number(*height)));
}

void TestRigsim::echoes_data()
{
    // The default sky (1500 km; F2 10 MHz at 300 km, 100 km each side; E 3 MHz at 110 km, 20
    // km; X 0.7 MHz up; E and X -3 dB, 2F2 -6 dB), worked out apart from the code: a mirror
    // at the group height of each of 200,000 vertical frequencies, F2's delayed by E's
    // retardation and screened below foE, the trace's crossings interpolated. Its MUFs: E
    // 12.965 MHz, F2 19.992, 2F2 13.305, X 20.692. Below 3 MHz all fade as (f / 3 MHz)^2.
    QTest::addColumn<double>("rfMHz");
    QTest::addColumn<QString>("gaps");
    QTest::addColumn<QStringList>("expected"); // mode, delay ms, amplitude

    const QString none;
    QTest::newRow("2 MHz: E alone, faded") << 2.0 << none << QStringList{"E 5.0718 0.3146"};
    QTest::newRow("6 MHz: F2 screened by E")
        << 6.0 << none << QStringList{"E 5.0747 0.7079", "2F2 6.0009 0.5012"};
    QTest::newRow("10 MHz: E's nose passed") << 10.0 << none
                                             << QStringList{"E 5.0827 0.7079",
                                                            "E 5.2329 0.7079",
                                                            "F2 5.3235 1",
                                                            "2F2 6.0156 0.5012",
                                                            "X 5.3367 0.7079"};
    QTest::newRow("15 MHz: low and high rays")
        << 15.0 << none
        << QStringList{"F2 5.3307 1", "F2 6.6951 1", "X 5.3242 0.7079", "X 6.9826 0.7079"};
    QTest::newRow("19.5 MHz: near the nose")
        << 19.5 << none
        << QStringList{"F2 5.4550 1", "F2 5.7089 1", "X 5.4126 0.7079", "X 5.8315 0.7079"};
    QTest::newRow("20.3 MHz: X alone")
        << 20.3 << none << QStringList{"X 5.4642 0.7079", "X 5.6890 0.7079"};
    QTest::newRow("21 MHz: over every MUF") << 21.0 << none << QStringList{};
    QTest::newRow("15 MHz in a gap") << 15.0 << "14.9-15.2,4-4.5" << QStringList{};
    QTest::newRow("15 MHz beside gaps")
        << 15.0 << "14.9-14.99,15.01-15.2"
        << QStringList{"F2 5.3307 1", "F2 6.6951 1", "X 5.3242 0.7079", "X 6.9826 0.7079"};
}

void TestRigsim::echoes()
{
    QFETCH(double, rfMHz);
    QFETCH(QString, gaps);
    QFETCH(QStringList, expected);
    Ionosphere sky;
    if (!gaps.isEmpty())
        sky.gapsHz = gapsFromText(gaps).value();
    QStringList found;
    for (const Echo &echo : echoesAt(sky, rfMHz * 1e6, utcNs(8, 12, 0, 0)))
        found += QStringLiteral("%1 %2 %3")
                     .arg(modeName(echo.mode))
                     .arg(echo.delayS * 1e3, 0, 'f', 4)
                     .arg(echo.amplitude, 0, 'f', 4);
    QCOMPARE(found.size(), expected.size());
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QStringList got = found[i].split(' '), want = expected[i].split(' ');
        QCOMPARE(got[0], want[0]);
        QVERIFY2(std::abs(got[1].toDouble() - want[1].toDouble()) < 0.002, qPrintable(found[i]));
        QVERIFY2(std::abs(got[2].toDouble() - want[2].toDouble()) < 1e-4, qPrintable(found[i]));
    }
}

void TestRigsim::mof_data()
{
    // MUFs worked out apart from the code (as in echoes); the MOF is the highest 100 kHz step
    // whose passband centre (dial + 1500 Hz) is below the MUF and out of the gaps. 3000 km
    // without E: F2 27.813 MHz, 2F2 20.066 (E none).
    QTest::addColumn<double>("pathKm");
    QTest::addColumn<bool>("withE");
    QTest::addColumn<QString>("gaps");
    QTest::addColumn<QList<double>>("mufMHz"); // E, F2, 2F2, X; -1: none
    QTest::addColumn<QList<double>>("mofMHz");

    QTest::newRow("1500 km") << 1500.0 << true << QString()
                             << QList<double>{12.9647, 19.9918, 13.3050, 20.6918}
                             << QList<double>{12.9, 19.9, 13.3, 20.6};
    QTest::newRow("the F2 MOF's step silent")
        << 1500.0 << true << "19.85-19.95" << QList<double>{12.9647, 19.9918, 13.3050, 20.6918}
        << QList<double>{12.9, 19.8, 13.3, 20.6};
    QTest::newRow("3000 km, no E")
        << 3000.0 << false << QString() << QList<double>{-1, 27.8130, 20.0664, 28.5130}
        << QList<double>{-1, 27.8, 20.0, 28.5};
}

void TestRigsim::mof()
{
    QFETCH(double, pathKm);
    QFETCH(bool, withE);
    QFETCH(QString, gaps);
    QFETCH(QList<double>, mufMHz);
    QFETCH(QList<double>, mofMHz);
    Ionosphere sky;
    sky.pathKm = pathKm;
    if (!withE)
        sky.e.reset();
    if (!gaps.isEmpty())
        sky.gapsHz = gapsFromText(gaps).value();
    const qint64 at = utcNs(8, 12, 0, 0);
    for (size_t m = 0; m < ModeCount; ++m) {
        const auto muf = mufHz(sky, Mode(m), at);
        const auto mof = mofHz(sky, Mode(m), at);
        QCOMPARE(muf.has_value(), mufMHz[qsizetype(m)] >= 0);
        QCOMPARE(mof.value_or(-1e6) / 1e6, mofMHz[qsizetype(m)]);
        if (muf)
            QVERIFY2(std::abs(*muf / 1e6 - mufMHz[qsizetype(m)]) < 2e-4,
                     qPrintable(QString::number(*muf)));
    }
    // A sweep's truth sees the same MOFs when the sky stands still.
    const auto truth = sweepTruth(sky, Sounder{}, at);
    QCOMPARE(truth.steps.size(), size_t(300));
    for (size_t m = 0; m < ModeCount; ++m)
        QCOMPARE(truth.mofHz[m].value_or(-1e6) / 1e6, mofMHz[qsizetype(m)]);
}

void TestRigsim::fastDayMovesF2()
{
    // 5 MHz at midnight to 10 MHz at noon in a day of 10 minutes (midnights on UTC's): 5 +
    // 2.5 (1 - cos(2 pi t / 10 min)). F2's MUF over the default path then 9.844 MHz at night,
    // 14.945 at 7.5 MHz and 19.992 by day (worked out as in echoes).
    Ionosphere sky;
    sky.f2Day = DayCourse{5e6, 10e6, 10};
    const qint64 midnight = utcNs(8, 12, 0, 0), minute = 60'000'000'000;
    const QList<std::pair<qint64, double>> rows{{midnight, 5},
                                                {midnight + minute, 5.477458},
                                                {midnight + 5 * minute / 2, 7.5},
                                                {midnight + 5 * minute, 10},
                                                {midnight + 15 * minute / 2, 7.5},
                                                {midnight + 10 * minute, 5}};
    for (const auto &[atNs, foMHz] : rows)
        QVERIFY2(std::abs(f2CriticalHz(sky, atNs) / 1e6 - foMHz) < 1e-6,
                 qPrintable(QString::number(f2CriticalHz(sky, atNs))));
    const QList<std::pair<qint64, double>> mufs{
        {midnight, 9.8444}, {midnight + 5 * minute / 2, 14.9448}, {midnight + 5 * minute, 19.9918}};
    for (const auto &[atNs, mufMHz] : mufs)
        QVERIFY(std::abs(mufHz(sky, Mode::F2, atNs).value() / 1e6 - mufMHz) < 2e-4);
    // A sweep of 301 s spans half the day: the MOF is the highest step heard as it passes.
    QVERIFY(sweepTruth(sky, Sounder{}, midnight).mofHz[size_t(Mode::F2)] > 10e6);
}

void TestRigsim::badSkyOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says"); // the start of its one line

    QTest::newRow("path") << QStringList{"--path-km", "5"} << "rigsim: --path-km takes";
    QTest::newRow("f2 short") << QStringList{"--f2", "10:300"} << "rigsim: --f2 takes";
    QTest::newRow("f2 under ground") << QStringList{"--f2", "10:150:100"} << "rigsim: --f2 takes";
    QTest::newRow("e over f2") << QStringList{"--e", "3:190:20"} << "rigsim: --e's layer ends";
    QTest::newRow("e nonsense") << QStringList{"--e", "three"} << "rigsim: --e takes";
    QTest::newRow("levels") << QStringList{"--levels", "-3:0:-6"} << "rigsim: --levels takes";
    QTest::newRow("level word") << QStringList{"--levels", "-3:0:-6:of"}
                                << "rigsim: --levels takes";
    QTest::newRow("x offset") << QStringList{"--x-offset", "-1"} << "rigsim: --x-offset takes";
    QTest::newRow("gaps") << QStringList{"--gaps", "4.5-4.0"} << "rigsim: --gaps takes";
    QTest::newRow("day") << QStringList{"--f2-day", "5:nan"} << "rigsim: --f2-day takes";
    QTest::newRow("day minutes") << QStringList{"--f2-day", "5:10", "--day-minutes", "0"}
                                 << "rigsim: --day-minutes takes";
    QTest::newRow("minutes alone")
        << QStringList{"--day-minutes", "5"} << "rigsim: --day-minutes is for --f2-day";
    QTest::newRow("rate") << QStringList{"--audio-rate", "44100"} << "rigsim: --audio-rate takes";
    QTest::newRow("passband over 0.45 of the rate")
        << QStringList{"--passband", "300:21700"} << "rigsim: --passband takes";
    QTest::newRow("swap without I/Q") << QStringList{"--iq-swap"} << "rigsim: --iq-swap and";
    QTest::newRow("passband with I/Q")
        << QStringList{"--iq", "--passband", "300:20000"} << "rigsim: --filter and --passband";
}

void TestRigsim::badSkyOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    QProcess rigsim;
    rigsim.start(QStringLiteral(RIGSIM_PATH), QStringList{"--port", "0"} + arguments);
    QVERIFY(rigsim.waitForFinished(10'000));
    QCOMPARE(rigsim.exitCode(), 2);
    const QStringList lines = QString::fromUtf8(rigsim.readAllStandardError())
                                  .split(u'\n', Qt::SkipEmptyParts)
                                  .filter(QStringLiteral("rigsim: "));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(says), qPrintable(lines.first()));
}

void TestRigsim::truthFile()
{
    // The sweep under way, at once: the default sky's echoes at 15 MHz (15.0015 MHz, worked
    // out as in echoes), and the MOFs, F2's one step lower for the gap.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("truth.csv"));
    QProcess rigsim;
    QVERIFY(startRigsim(rigsim, {"--truth", path, "--gaps", "19.85-19.95"}));
    QByteArray text;
    QTRY_VERIFY([&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && (text = file.readAll()).contains(",mof,X,");
    }());
    rigsim.kill();
    rigsim.waitForFinished();
    const QList<QByteArray> lines = text.split('\n');
    QCOMPARE(lines.first(),
             QByteArray("sweep_utc,sounder,kind,mode,frequency_hz,delay_ms,level_db"));
    QStringList at15, mofs;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> cells = line.split(',');
        if (cells.size() == 7 && cells[2] == "echo" && cells[4] == "15000000")
            at15 += QString::fromUtf8(cells[3] + ' ' + cells[5] + ' ' + cells[6]);
        if (cells.size() == 7 && cells[2] == "mof")
            mofs += QString::fromUtf8(cells[3] + ' ' + cells[4]);
    }
    QCOMPARE(mofs, (QStringList{"E 12900000", "F2 19800000", "2F2 13300000", "X 20600000"}));
    const QStringList expected{
        "F2 5.3307 0.00", "F2 6.6946 0.00", "X 5.3242 -3.00", "X 6.9819 -3.00"};
    QCOMPARE(at15.size(), expected.size());
    for (qsizetype i = 0; i < at15.size(); ++i) {
        const QStringList got = at15[i].split(' '), want = expected[i].split(' ');
        QCOMPARE(got[0], want[0]);
        QVERIFY2(std::abs(got[1].toDouble() - want[1].toDouble()) < 0.002, qPrintable(at15[i]));
        QCOMPARE(got[2], want[2]);
    }
}

void TestRigsim::chirpStart_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("periodS");
    QTest::addColumn<int>("chirptimeS");
    QTest::addColumn<qint64>("atNs");
    QTest::addColumn<qint64>("startNs");

    const QByteArray utc = "UTC";
    QTest::newRow("on the chirp") << utc << 300 << 78 << utcNs(8, 3, 6, 18) << utcNs(8, 3, 6, 18);
    QTest::newRow("before this period's")
        << utc << 300 << 78 << utcNs(8, 3, 6, 17) << utcNs(8, 3, 1, 18);
    QTest::newRow("across midnight")
        << utc << 300 << 78 << utcNs(8, 0, 0, 30) << utcNs(7, 23, 56, 18);
    // Local midnight is 18:30 UTC at +5:30; periods of 720 s from there, not from 00:00 UTC.
    QTest::newRow("local +5:30") << QByteArray("IST-5:30") << 720 << 41 << utcNs(7, 18, 43, 0)
                                 << utcNs(7, 18, 42, 41);
}

void TestRigsim::chirpStart()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, periodS);
    QFETCH(int, chirptimeS);
    QFETCH(qint64, atNs);
    QFETCH(qint64, startNs);
    qputenv("TZ", zone);
    tzset();
    const Sounder sounder{periodS * 1'000'000'000LL, chirptimeS * 1'000'000'000LL, zone != "UTC"};
    QCOMPARE(chirpStartNs(atNs, sounder), startNs);
}

void TestRigsim::sounderFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<double>>("expected"); // period s, chirptime s, Hz/s; none: refused

    QTest::newRow("rate left out") << "300:78" << QList<double>{300, 78, 100e3};
    QTest::newRow("JORN") << "450:17.05:125" << QList<double>{450, 17.05, 125e3};
    QTest::newRow("Sodankyla") << "60:54:500.0084" << QList<double>{60, 54, 500'008.4};
    const QString refused = "300 300:78:100:5 300:300 300:-1 0.5:0 86401:0 300:78:0.5 "
                            "300:78:1001 300:78,5 300:78: x:78";
    for (const QString &text : refused.split(' '))
        QTest::newRow(qPrintable(text)) << text << QList<double>{};
}

void TestRigsim::sounderFromText()
{
    QFETCH(QString, text);
    QFETCH(QList<double>, expected);
    const auto sounder = Sky::sounderFromText(text);
    QList<double> read;
    if (sounder)
        read = {double(sounder->periodNs) / 1e9,
                double(sounder->chirptimeNs) / 1e9,
                sounder->sweepHzPerS};
    QCOMPARE(read, expected);
}

void TestRigsim::passageArrivesAfterTheEchoDelay_data()
{
    // The passband's middle (1500 Hz) comes 1500 Hz / rate after the sweep crosses the dial
    // (dial / rate after the chirptime), plus the delay of the one echo of denseSky() at the
    // passband's middle. Above 100 kHz/s, with fewer cycles in the passband, the power's centre
    // moves with the phase at the band's edges (0.08 ms at 500 kHz/s).
    QTest::addColumn<QStringList>("sounders");
    QTest::addColumn<qint64>("dialHz");
    QTest::addColumn<qint64>("crossingNs"); // the sweep crosses the dial
    QTest::addColumn<double>("middleMs");   // after the crossing

    const QStringList inskip{"300:78"}; // chirp at 00:01:18
    const qint64 chirp = utcNs(8, 0, 1, 18);
    QTest::newRow("2.5 MHz") << inskip << 2'500'000LL << chirp + 25'000'000'000 << 15 + 5.25093;
    QTest::newRow("11 MHz") << inskip << 11'000'000LL << chirp + 110'000'000'000 << 15 + 5.25319;
    QTest::newRow("13.9 MHz") << inskip << 13'900'000LL << chirp + 139'000'000'000 << 15 + 5.25465;
    QTest::newRow("the day before's sweep")
        << inskip << 29'900'000LL << utcNs(8, 0, 1, 17) << 15 + 5.27030;
    // At 7 MHz (5.25176 ms): 56 s after 00:07:30 + 17.05 s; 140 s after 00:29:20.02;
    // 7 MHz / 500.0084 kHz/s = 13.99976480 s after 00:00:54, then 1500 Hz in 2.99995 ms.
    const qint64 seven = 7'000'000;
    QTest::newRow("125 kHz/s") << QStringList{"450:17.05:125"} << seven
                               << utcNs(8, 0, 8, 43) + 50'000'000 << 12 + 5.25176;
    QTest::newRow("50 kHz/s") << QStringList{"3600:1760.02:50"} << seven
                              << utcNs(8, 0, 31, 40) + 20'000'000 << 30 + 5.25176;
    QTest::newRow("500.0084 kHz/s") << QStringList{"60:54:500.0084"} << seven
                                    << utcNs(8, 0, 1, 7) + 999'764'804 << 2.99995 + 5.25176;
    // In one period from 00:05, a Cyprus chirp crosses 7 MHz at 00:05:15, the JORN one as above.
    const QStringList both{"300:245", "450:17.05:125"};
    QTest::newRow("two, the first") << both << seven << utcNs(8, 0, 5, 15) << 15 + 5.25176;
    QTest::newRow("two, the second")
        << both << seven << utcNs(8, 0, 8, 43) + 50'000'000 << 12 + 5.25176;
}

void TestRigsim::passageArrivesAfterTheEchoDelay()
{
    QFETCH(QStringList, sounders);
    QFETCH(qint64, dialHz);
    QFETCH(qint64, crossingNs);
    QFETCH(double, middleMs);
    const Ionosphere sky = denseSky();
    std::vector<Sounder> heard;
    double fastest = 0;
    for (const QString &text : sounders) {
        heard.push_back(Sky::sounderFromText(text).value());
        fastest = std::max(fastest, heard.back().sweepHzPerS);
    }
    SkyAudio audio(heard, sky, 200);
    // In 10 ms blocks, as rigsim writes them: a passage goes on from one block to the next.
    std::vector<qint16> samples(SampleRate / 10);
    for (size_t at = 0; at < samples.size(); at += SampleRate / 100)
        audio.render(crossingNs + qint64(at) * 62'500 / 3,
                     dialHz,
                     std::span(samples).subspan(at, SampleRate / 100));
    // The passage's middle: the centre of its power. Its steepest step is no more than a
    // 2800 Hz tone's of its height: no click.
    double power = 0, moment = 0, peak = 0, step = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double p = double(samples[i]) * samples[i];
        power += p;
        moment += p * double(i) / SampleRate;
        peak = std::max(peak, std::abs(double(samples[i])));
        if (i > 0)
            step = std::max(step, std::abs(double(samples[i]) - samples[i - 1]));
    }
    QVERIFY(power > 0);
    QVERIFY2(std::abs(moment / power * 1e3 - middleMs) < (fastest > 100e3 ? 0.1 : 0.02),
             qPrintable(QString::number(moment / power * 1e3)));
    QVERIFY2(step <= 2 * std::numbers::pi * 2800 / SampleRate * peak + 1,
             qPrintable(QStringLiteral("%1 of %2").arg(step).arg(peak)));
}

void TestRigsim::noiseAtTheRequestedSnrWithoutClipping_data()
{
    // Six sounders in step add in phase: 36 times one's power, 10 dB + 15.563 dB.
    QTest::addColumn<int>("sounders");
    QTest::addColumn<double>("snrDb");

    QTest::newRow("one") << 1 << 10.0;
    QTest::newRow("six in step") << 6 << 25.563;
}

void TestRigsim::noiseAtTheRequestedSnrWithoutClipping()
{
    // One second at 11 MHz, 10 dB each: the chirp's flat part (400 to 2600 Hz, 4 ms to 26 ms
    // after the crossing, plus 5.253 ms) over the noise everywhere else. The peak allows for
    // both rays of F2, each sounder's in phase, and six noise sigmas: for one, 0.89 full
    // scale / (2 + 6 x 0.2236) = 8726.
    QFETCH(int, sounders);
    QFETCH(double, snrDb);
    SkyAudio audio(std::vector<Sounder>(size_t(sounders)), denseSky(), 10);
    std::vector<qint16> samples(SampleRate);
    audio.render(utcNs(8, 0, 1, 18) + 110'000'000'000, 11'000'000, samples);
    double chirp = 0, noise = 0;
    int chirpCount = 0, noiseCount = 0, peak = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double ms = double(i) * 1e3 / SampleRate - 5.253;
        const double p = double(samples[i]) * samples[i];
        peak = std::max(peak, std::abs(int(samples[i])));
        if (ms > 4 && ms < 26) {
            chirp += p;
            ++chirpCount;
        } else if (ms < 0 || ms > 40) {
            noise += p;
            ++noiseCount;
        }
    }
    noise /= noiseCount;
    const double measuredDb = 10 * std::log10((chirp / chirpCount - noise) / noise);
    QVERIFY2(std::abs(measuredDb - snrDb) < 0.7, qPrintable(QString::number(measuredDb)));
    QVERIFY(peak < 32767);
    QVERIFY(peak > 8192); // loud enough to be heard
}

void TestRigsim::carrierAndFilter_data()
{
    // Levels over the noise in 300-2700 Hz. Edges: half amplitude (-6.02 dB); 450 Hz is a
    // quarter into the 400-600 Hz edge, 0.5 - 0.5 cos(pi / 4) (-16.69 dB). A fourth-order
    // Butterworth band's noise bandwidth is 1.026 its width at both ends: 1000 Hz of 2400 is
    // -3.80 dB. NaN: not heard (below -20 dB).
    QTest::addColumn<QString>("carrier");
    QTest::addColumn<double>("lowHz");
    QTest::addColumn<double>("highHz");
    QTest::addColumn<qint64>("dialHz");
    QTest::addColumn<double>("toneHz");
    QTest::addColumn<double>("toneDb");
    QTest::addColumn<double>("noiseDb");

    const double none = std::nan("");
    QTest::newRow("broadcast") << "20:1234:broadcast" << 300.0 << 2700.0 << 7'300'000LL << 1234.0
                               << 20.0 << 0.0;
    QTest::newRow("between broadcast bands")
        << "20:1234:broadcast" << 300.0 << 2700.0 << 7'000'000LL << 1234.0 << none << 0.0;
    QTest::newRow("listed range") << "15:1000:7.0,9.4-9.9" << 300.0 << 2700.0 << 9'500'000LL
                                  << 1000.0 << 15.0 << 0.0;
    QTest::newRow("not listed") << "15:1000:7.0,9.4-9.9" << 300.0 << 2700.0 << 7'100'000LL << 1000.0
                                << none << 0.0;
    QTest::newRow("at the edge") << "20:2700" << 300.0 << 2700.0 << 7'000'000LL << 2700.0 << 13.98
                                 << 0.0;
    QTest::newRow("beyond the filter")
        << "20:3000" << 300.0 << 2700.0 << 7'000'000LL << 3000.0 << none << 0.0;
    QTest::newRow("narrow, in its edge")
        << "20:450" << 500.0 << 1500.0 << 7'000'000LL << 450.0 << 3.31 << -3.80;
    QTest::newRow("narrow, above")
        << "20:2000" << 500.0 << 1500.0 << 7'000'000LL << 2000.0 << none << -3.80;
}

void TestRigsim::carrierAndFilter()
{
    QFETCH(QString, carrier);
    QFETCH(double, lowHz);
    QFETCH(double, highHz);
    QFETCH(qint64, dialHz);
    QFETCH(double, toneHz);
    QFETCH(double, toneDb);
    QFETCH(double, noiseDb);
    const auto render = [&](double low, double high, std::optional<qint64> dial) {
        Receiver receiver;
        receiver.lowHz = low;
        receiver.highHz = high;
        receiver.carriers = {carrierFromText(carrier).value()};
        SkyAudio audio({Sounder{}}, Silent, 10, 1, receiver);
        std::vector<qint16> samples(SampleRate);
        audio.render(utcNs(8, 0, 2, 0), dial, samples);
        return samples;
    };
    // The noise in 300-2700 Hz, at no dial (no carrier).
    const double reference = meanPower(render(300, 2700, std::nullopt));
    const auto samples = render(lowHz, highHz, dialHz);
    const double tone = std::pow(toneAmplitude(samples, toneHz), 2) / 2;
    const double measuredTone = 10 * std::log10(tone / reference);
    const double measuredNoise = 10 * std::log10((meanPower(samples) - tone) / reference);
    if (std::isnan(toneDb))
        QVERIFY2(measuredTone < -20, qPrintable(QString::number(measuredTone)));
    else
        QVERIFY2(std::abs(measuredTone - toneDb) < 0.3, qPrintable(QString::number(measuredTone)));
    QVERIFY2(std::abs(measuredNoise - noiseDb) < 0.3, qPrintable(QString::number(measuredNoise)));
}

void TestRigsim::crashes()
{
    // Five a second, 40 dB, 10 ms: each falls 40 dB in its length, 10 dB from its second
    // quarter to its third; its energy over the noise's power in 1 ms is 40 dB + 10 log(10 ms
    // / (2 ln 100)) = 40.36 dB (an amplitude time constant of length / ln 100). (Crashes that
    // fall faster than the filter's own ringing, 12.5 dB a ms, last as long as it rings.)
    const double lengthMs = 10;
    Receiver receiver;
    receiver.crashes = {5, 40, lengthMs / 1e3};
    SkyAudio audio({Sounder{}}, Silent, 10, 1, receiver);
    std::vector<qint16> samples(8 * SampleRate);
    audio.render(utcNs(8, 0, 2, 0), std::nullopt, samples);
    // The noise: the median power of 10 ms blocks (few hold a crash).
    std::vector<double> blocks;
    for (size_t at = 0; at < samples.size(); at += 480)
        blocks.push_back(meanPower(std::span(samples).subspan(at, 480)));
    std::nth_element(blocks.begin(), blocks.begin() + 400, blocks.end());
    const double noise = blocks[400];
    // A crash starts where the audio passes 20 dB over the noise's rms after 8 ms below.
    std::vector<qint64> starts;
    qint64 lastLoud = -SampleRate;
    for (qint64 i = 0; i < qint64(samples.size()); ++i) {
        if (double(samples[size_t(i)]) * samples[size_t(i)] < 100 * noise)
            continue;
        if (i - lastLoud > 8 * 48)
            starts.push_back(i);
        lastLoud = i;
    }
    QVERIFY2(starts.size() >= 25 && starts.size() <= 57,
             qPrintable(QString::number(starts.size())));
    // Of each crash alone (none within twice its length and 4 ms): its energy, and its power
    // in its second and third quarter.
    const auto length = qint64(lengthMs * 48);
    const auto excess = [&](qint64 from, qint64 count) {
        return meanPower(std::span(samples).subspan(size_t(from), size_t(count))) - noise;
    };
    // Medians of the two quarters, whose spreads are alike: a crash that starts in another's
    // tail, unseen, would weigh on a mean. The energy's mean leaves out crashes that rise again.
    std::vector<double> quarters[2];
    double energy = 0;
    int alone = 0;
    for (size_t c = 1; c + 1 < starts.size(); ++c) {
        if (starts[c] - starts[c - 1] < 2 * length + 192
            || starts[c + 1] - starts[c] < 2 * length + 192)
            continue;
        quarters[0].push_back(excess(starts[c] + length / 4, length / 4));
        quarters[1].push_back(excess(starts[c] + length / 2, length / 4));
        if (quarters[1].back() > quarters[0].back())
            continue;
        ++alone;
        energy += excess(starts[c] - 48, 2 * length + 96) * double(2 * length + 96) / 48;
    }
    QVERIFY(alone >= 16);
    const double measuredEnergy = 10 * std::log10(energy / alone / noise);
    QVERIFY2(std::abs(measuredEnergy - 40.36) < 1, qPrintable(QString::number(measuredEnergy)));
    for (auto &powers : quarters)
        std::nth_element(
            powers.begin(), powers.begin() + qsizetype(powers.size() / 2), powers.end());
    const double fall
        = 10
          * std::log10(quarters[0][quarters[0].size() / 2] / quarters[1][quarters[1].size() / 2]);
    QVERIFY2(std::abs(fall - 10) < 1.5, qPrintable(QString::number(fall)));
}

void TestRigsim::agcDropsFastAndRecoversInItsDecay()
{
    // A probe carrier 10 dB over the noise everywhere (4.47 noise rms, under the AGC's knee at
    // 10), and one 40 dB over it (141.4 noise rms) at 7.0 MHz only, from 200 ms to 400 ms.
    // Under the knee the knee goes to 8192: the probe at sqrt(20) / 10 * 8192 = 3663.6. Over
    // the 40 dB carrier (with the probe's and the noise's peaks, 141 to 150 rms) the gain is
    // 23.0 to 23.5 dB lower, 20 dB of it within three 1 ms attacks (the envelope's peaks charge
    // the level only while they are above it); it comes back 8.69 dB each 1 s decay and is
    // whole after 1 s * ln(15) = 2.7 s, but for the noise's and the probe's peaks, which reach
    // the knee now and then (a few tenths of a dB). (A shorter decay would let the level ripple
    // with the two carriers' beat, and the gain's ripple would put the loud one's sideband on the
    // probe.)
    Receiver receiver;
    receiver.agc = Agc{0.001, 1};
    receiver.carriers = {carrierFromText("10:1000").value(), carrierFromText("40:2000:7").value()};
    SkyAudio audio({Sounder{}}, Silent, 10, 1, receiver);
    const qint64 start = utcNs(8, 0, 2, 0);
    audio.retune(start, 6'900'000);
    audio.retune(start + 200'000'000, 7'000'000);
    audio.retune(start + 400'000'000, 7'100'000);
    const auto samples = renderBlocks(audio, start, 3300);
    const auto probeDb = [&](int fromMs, int ms) {
        const auto stretch = std::span(samples).subspan(size_t(fromMs) * 48, size_t(ms) * 48);
        return 20 * std::log10(toneAmplitude(stretch, 1000) / 3663.6);
    };
    QVERIFY2(std::abs(probeDb(100, 20)) < 0.4, qPrintable(QString::number(probeDb(100, 20))));
    QVERIFY2(probeDb(203, 5) < -20, qPrintable(QString::number(probeDb(203, 5))));
    QVERIFY2(probeDb(210, 20) > -24 && probeDb(210, 20) < -22.9,
             qPrintable(QString::number(probeDb(210, 20))));
    QVERIFY2(std::abs(probeDb(1390, 20) + 14.6) < 0.7,
             qPrintable(QString::number(probeDb(1390, 20))));
    QVERIFY2(std::abs(probeDb(3200, 20)) < 0.7, qPrintable(QString::number(probeDb(3200, 20))));
}

void TestRigsim::retuneLatencyAndMute_data()
{
    QTest::addColumn<int>("latencyMs");
    QTest::addColumn<int>("muteMs");

    QTest::newRow("at once") << 0 << 0;
    QTest::newRow("50 ms late, 20 ms mute") << 50 << 20;
    QTest::newRow("120 ms late, 5 ms mute") << 120 << 5;
}

void TestRigsim::retuneLatencyAndMute()
{
    // A carrier 20 dB over the noise (14.1 noise rms) at 7.0 MHz only; the command to move
    // there from 6.9 MHz comes at 100 ms.
    QFETCH(int, latencyMs);
    QFETCH(int, muteMs);
    Receiver receiver;
    receiver.carriers = {carrierFromText("20:1000:7").value()};
    receiver.latencyS = latencyMs / 1e3;
    receiver.muteS = muteMs / 1e3;
    SkyAudio audio({Sounder{}}, Silent, 10, 1, receiver);
    const qint64 start = utcNs(8, 0, 2, 0);
    audio.retune(start - 1'000'000'000, 6'900'000);
    audio.retune(start + 100'000'000, 7'000'000);
    const auto samples = renderBlocks(audio, start, 400);
    const auto moved = size_t(100 + latencyMs) * 48, heard = moved + size_t(muteMs) * 48;
    const auto before = std::span(samples).subspan(moved - 480, 480);
    const auto after = std::span(samples).subspan(heard, 480);
    QVERIFY(std::count(before.begin(), before.end(), 0) < 5);
    QVERIFY(std::all_of(samples.begin() + qsizetype(moved),
                        samples.begin() + qsizetype(heard),
                        [](qint16 sample) { return sample == 0; }));
    const double noiseRms = std::sqrt(meanPower(before));
    QVERIFY(toneAmplitude(before, 1000) < 1.4 * noiseRms);
    const double ratio = toneAmplitude(after, 1000) / noiseRms;
    QVERIFY2(std::abs(ratio / 14.14 - 1) < 0.1, qPrintable(QString::number(ratio)));
}

void TestRigsim::lowerSidebandChirpFallsBeforeTheArrival()
{
    // In LSB at 7 MHz the echo (of denseSky() at 6.9985 MHz, the passband's middle: 5.25176
    // ms) is heard from 2800 Hz, 28 ms before it arrives at the
    // dial, down to 200 Hz, 2 ms before; in the 10 ms from 25 ms before it falls from 2500
    // to 1500 Hz (40 zero crossings), in the next 10 ms from 1500 to 500 Hz (20).
    SkyAudio audio({Sounder{}}, denseSky(), 200);
    audio.setSideband(Sideband::Lower);
    const qint64 crossing = utcNs(8, 0, 1, 18) + 70'000'000'000;
    const qint64 start = crossing - 40'000'000;
    audio.retune(start, 7'000'000);
    const auto samples = renderBlocks(audio, start, 60);
    const double arrivalMs = 40 + 5.25176;
    const auto heard = [&](auto from, auto to) {
        return double(std::find_if(from, to, [](qint16 s) { return s != 0; }) - from) / 48;
    };
    QVERIFY(std::abs(heard(samples.begin(), samples.end()) - (arrivalMs - 28)) < 0.05);
    QVERIFY(std::abs(60 - heard(samples.rbegin(), samples.rend()) - (arrivalMs - 2)) < 0.05);
    const auto crossings = [&](double fromMs) {
        int count = 0;
        for (auto i = size_t(fromMs * 48); i < size_t((fromMs + 10) * 48); ++i)
            count += (samples[i] < 0) != (samples[i + 1] < 0);
        return count;
    };
    QVERIFY2(std::abs(crossings(arrivalMs - 25) - 40) <= 1,
             qPrintable(QString::number(crossings(arrivalMs - 25))));
    QVERIFY2(std::abs(crossings(arrivalMs - 15) - 20) <= 1,
             qPrintable(QString::number(crossings(arrivalMs - 15))));
}

void TestRigsim::chirpAtItsFrequency_data()
{
    // 100 kHz/s: the echo is at (ms from its arrival at the dial) x 100 Hz. I/Q hears it up to
    // 0.45 of the rate (+100 Hz edge: 21.6, 43.2, 86.4 kHz) each side, mirrored when swapped;
    // real audio up to its filter's high edge (+100 Hz). NaN: silent.
    QTest::addColumn<int>("rateHz");
    QTest::addColumn<QString>("form");
    QTest::addColumn<double>("highHz");
    QTest::addColumn<double>("ms");
    QTest::addColumn<double>("hz");

    const double silent = std::nan("");
    QTest::newRow("48 kHz, 200 ms before") << 48'000 << "iq" << 0.0 << -200.0 << -20e3;
    QTest::newRow("48 kHz, 250 ms after") << 48'000 << "iq" << 0.0 << 250.0 << silent;
    QTest::newRow("96 kHz, 400 ms before") << 96'000 << "iq" << 0.0 << -400.0 << -40e3;
    QTest::newRow("192 kHz, 800 ms after") << 192'000 << "iq" << 0.0 << 800.0 << 80e3;
    QTest::newRow("192 kHz, 870 ms after") << 192'000 << "iq" << 0.0 << 870.0 << silent;
    QTest::newRow("48 kHz swapped") << 48'000 << "swap" << 0.0 << 150.0 << -15e3;
    QTest::newRow("96 kHz, Q silent") << 96'000 << "silent q" << 0.0 << -400.0 << 40e3;
    QTest::newRow("48 kHz real, 19.5 kHz") << 48'000 << "real" << 20e3 << 195.0 << 19.5e3;
    QTest::newRow("48 kHz real, 20.2 kHz") << 48'000 << "real" << 20e3 << 202.0 << silent;
    QTest::newRow("192 kHz real, 79 kHz") << 192'000 << "real" << 80e3 << 790.0 << 79e3;
    QTest::newRow("192 kHz real, 80.2 kHz") << 192'000 << "real" << 80e3 << 802.0 << silent;
}

void TestRigsim::chirpAtItsFrequency()
{
    QFETCH(int, rateHz);
    QFETCH(QString, form);
    QFETCH(double, highHz);
    QFETCH(double, ms);
    QFETCH(double, hz);
    SkyAudio audio({Sounder{}}, denseSky(), 200, 1, receiverAt(rateHz, form, highHz));
    // 2 ms around the moment.
    std::vector<qint16> samples(size_t(rateHz / 500 * audio.channels()));
    audio.render(ArrivalAt7MHz + qint64(ms * 1e6) - 1'000'000, 7'000'000, samples);
    const auto z = asComplex(samples, form != "real");
    if (std::isnan(hz)) {
        QVERIFY(std::all_of(samples.begin(), samples.end(), [](qint16 s) { return s == 0; }));
    } else if (form == "real" || form == "silent q") {
        // A real chirp crosses zero 2 x hz x 2 ms times.
        QVERIFY(std::all_of(z.begin(), z.end(), [](auto sample) { return sample.imag() == 0; }));
        int crossings = 0;
        for (size_t i = 1; i < z.size(); ++i)
            crossings += (z[i].real() < 0) != (z[i - 1].real() < 0);
        QVERIFY2(std::abs(crossings - hz * 4e-3) <= 1, qPrintable(QString::number(crossings)));
    } else {
        // The frequency from the mean turn from sample to sample.
        std::complex<double> turn;
        for (size_t i = 1; i < z.size(); ++i)
            turn += z[i] * std::conj(z[i - 1]);
        const double measuredHz = std::arg(turn) * rateHz / (2 * std::numbers::pi);
        QVERIFY2(std::abs(measuredHz - hz) < 20, qPrintable(QString::number(measuredHz)));
    }
}

void TestRigsim::sameCarrierToNoiseDensityInEitherForm_data()
{
    // A carrier 20 dB over the noise in 300-2700 Hz, a fourth-order Butterworth band of noise
    // bandwidth 2400 x pi / (8 sin(pi / 8)) = 2462.9 Hz: a C/N0 of 20 + 33.91 dB-Hz.
    QTest::addColumn<int>("rateHz");
    QTest::addColumn<QString>("form");

    QTest::newRow("48 kHz audio") << 48'000 << "real";
    QTest::newRow("48 kHz I/Q") << 48'000 << "iq";
    QTest::newRow("192 kHz I/Q") << 192'000 << "iq";
}

void TestRigsim::sameCarrierToNoiseDensityInEitherForm()
{
    // In 0.25 s, the carrier's |DFT|^2 x rate / N over the noise's mean |DFT|^2 in 250 bins
    // in 1200-2200 Hz (the same in either form: a real tone of power A^2 / 2 gives (N A / 2)^2,
    // and real noise's one-sided density is twice complex noise's two-sided density).
    QFETCH(int, rateHz);
    QFETCH(QString, form);
    Receiver receiver = receiverAt(rateHz, form);
    receiver.carriers = {carrierFromText("20:1000").value()};
    SkyAudio audio({Sounder{}}, Silent, 10, 1, receiver);
    std::vector<qint16> samples(size_t(rateHz * audio.channels()));
    audio.render(utcNs(8, 0, 2, 0), 7'000'000, samples);
    const auto z = asComplex(samples, form == "iq");
    double carrier = 0, noise = 0;
    for (size_t at = 0; at < z.size(); at += z.size() / 4) {
        const auto chunk = std::span(z).subspan(at, z.size() / 4);
        carrier += binPower(chunk, 1000, rateHz);
        for (int hz = 1204; hz <= 2200; hz += 4)
            noise += binPower(chunk, hz, rateHz) / 250;
    }
    const double cn0 = 10 * std::log10(carrier / noise * rateHz / double(z.size() / 4));
    QVERIFY2(std::abs(cn0 - 53.91) < 0.5, qPrintable(QString::number(cn0)));
}

void TestRigsim::iqIntoTheSoundServer()
{
    // The real PulseAudio takes rigsim's 192 kHz I/Q as a stereo source.
    SoundServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(server.loadRadioIq(192'000), 0);
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("--server=") + server.address(), "list", "short", "sources"});
    QVERIFY(pactl.waitForFinished(10'000));
    const QByteArray sources = pactl.readAllStandardOutput();
    QVERIFY2(QRegularExpression(QStringLiteral("radio-iq\\s.*s16le 2ch 192000Hz"))
                 .match(QString::fromUtf8(sources))
                 .hasMatch(),
             sources.constData());
    QProcess rigsim;
    QVERIFY(startRigsim(rigsim, {"--iq", "--audio-rate", "192000", "--audio", server.iqFifo()}));
    QByteArray said;
    QTRY_VERIFY((said += rigsim.readAll()).contains("audio: writing to "));
    QVERIFY2(said.contains("192 kHz s16le stereo I/Q to " + QFile::encodeName(server.iqFifo())),
             said.constData());
    rigsim.kill();
    rigsim.waitForFinished();
}

void TestRigsim::fifoWithoutReaderLeavesCommandsAnswered()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("radio"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess rigsim;
    const quint16 port = startRigsim(rigsim, {"--rig", "rigctld", "--audio", fifo});
    QVERIFY(port);
    // Nobody reads the FIFO, so opening it waits; the rig-control side answers all the same.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(5000));
    socket.write("F 7000000\n");
    QByteArray answer;
    QTRY_VERIFY((answer += socket.readAll()).endsWith('\n'));
    QCOMPARE(answer, QByteArray("RPRT 0\n"));

    // A reader then gets 48,000 samples of two bytes a second.
    QFile reader(fifo);
    QVERIFY(reader.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QCOMPARE(reader.read(2).size(), 2);
    QElapsedTimer clock;
    clock.start();
    qint64 bytes = 0;
    while (clock.elapsed() < 2000)
        bytes += reader.read(65536).size();
    const double rate = double(bytes) / double(clock.elapsed()) * 1000;
    QVERIFY2(std::abs(rate / 96'000 - 1) < 0.1, qPrintable(QString::number(rate)));
    QByteArray said;
    QTRY_VERIFY(
        (said += rigsim.readAll()).contains("audio: writing to " + QFile::encodeName(fifo)));
    rigsim.kill();
    rigsim.waitForFinished();
}

QTEST_GUILESS_MAIN(TestRigsim)
#include "tst_rigsim.moc"
