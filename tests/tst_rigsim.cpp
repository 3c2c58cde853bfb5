// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

// rigsim's receiver: the dial read from each program's commands, the sky's echoes, the
// audio's timing and noise, and the real-time writer in the real rigsim (Linux-only: a FIFO).

#include "skyaudio.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <sys/stat.h>
#include <vector>

using namespace Sky;

namespace {

qint64 utcNs(int day, int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, day), QTime(h, m, s), Qt::UTC).toMSecsSinceEpoch() * 1'000'000;
}

} // namespace

class TestRigsim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { setUpTestEnvironment(); }

    void frequencyFromCommand_data();
    void frequencyFromCommand();
    void echoes_data();
    void echoes();
    void chirpStart_data();
    void chirpStart();
    void passageArrivesAfterTheEchoDelay_data();
    void passageArrivesAfterTheEchoDelay();
    void noiseAtTheRequestedSnrWithoutClipping();
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

void TestRigsim::echoes_data()
{
    // Delays by hand: 4 ms / sqrt(1 - (f / 14 MHz)^2) for one hop, 8 ms / sqrt(1 - (f / 10
    // MHz)^2) for two, at most three times the base; two hops 6 dB (x 0.50119) down, and
    // (f / 3 MHz)^2 below 3 MHz. -1: no echo.
    QTest::addColumn<double>("rfHz");
    QTest::addColumn<QList<double>>("expected"); // delay ms and amplitude, one hop then two

    QTest::newRow("1.5 MHz, faded") << 1.5e6 << QList<double>{4.02316, 0.25, 8.09155, 0.12530};
    QTest::newRow("7 MHz") << 7e6 << QList<double>{4.61880, 1, 11.20224, 0.50119};
    QTest::newRow("twice the base") << 12.124356e6 << QList<double>{8.0, 1, -1, -1};
    QTest::newRow("two hops capped") << 9.999e6 << QList<double>{5.71488, 1, 24, 0.50119};
    QTest::newRow("one hop capped") << 13.5e6 << QList<double>{12, 1, -1, -1};
    QTest::newRow("at the MUF") << 14e6 << QList<double>{-1, -1, -1, -1};
}

void TestRigsim::echoes()
{
    QFETCH(double, rfHz);
    QFETCH(QList<double>, expected);
    const auto echoes = echoesAt(Ionosphere{}, rfHz);
    for (int hop = 0; hop < 2; ++hop) {
        const auto &echo = echoes[size_t(hop)];
        QCOMPARE(echo.has_value(), expected[2 * hop] >= 0);
        if (echo) {
            QVERIFY2(std::abs(echo->delayS * 1e3 - expected[2 * hop]) < 1e-4,
                     qPrintable(QString::number(echo->delayS * 1e3)));
            QVERIFY(std::abs(echo->amplitude - expected[2 * hop + 1]) < 1e-4);
        }
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

void TestRigsim::passageArrivesAfterTheEchoDelay_data()
{
    // The passband's middle (1500 Hz) comes 15 ms after the sweep crosses the dial, plus the
    // one-hop delay worked out by hand (two hops silenced).
    QTest::addColumn<double>("mufMHz");
    QTest::addColumn<qint64>("dialHz");
    QTest::addColumn<qint64>("crossingNs"); // the sweep crosses the dial (chirp at 00:01:18)
    QTest::addColumn<double>("middleMs");   // after the crossing

    const qint64 chirp = utcNs(8, 0, 1, 18);
    QTest::newRow("2.5 MHz") << 14.0 << 2'500'000LL << chirp + 25'000'000'000 << 15 + 4.06542;
    QTest::newRow("11 MHz") << 14.0 << 11'000'000LL << chirp + 110'000'000'000 << 15 + 6.46775;
    QTest::newRow("13.9 MHz, capped")
        << 14.0 << 13'900'000LL << chirp + 139'000'000'000 << 15 + 12.0;
    QTest::newRow("the day before's sweep")
        << 40.0 << 29'900'000LL << utcNs(8, 0, 1, 17) << 15 + 6.02210;
}

void TestRigsim::passageArrivesAfterTheEchoDelay()
{
    QFETCH(double, mufMHz);
    QFETCH(qint64, dialHz);
    QFETCH(qint64, crossingNs);
    QFETCH(double, middleMs);
    Ionosphere sky;
    sky.mufHz = mufMHz * 1e6;
    sky.twoHopDb = 200;
    SkyAudio audio(Sounder{}, sky, 200);
    std::vector<qint16> samples(SampleRate / 10);
    audio.render(crossingNs, dialHz, samples);
    // The passage's middle: the centre of its power.
    double power = 0, moment = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double p = double(samples[i]) * samples[i];
        power += p;
        moment += p * double(i) / SampleRate;
    }
    QVERIFY(power > 0);
    QVERIFY2(std::abs(moment / power * 1e3 - middleMs) < 0.02,
             qPrintable(QString::number(moment / power * 1e3)));
}

void TestRigsim::noiseAtTheRequestedSnrWithoutClipping()
{
    // One second at 11 MHz, 10 dB: the chirp's flat part (400 to 2600 Hz, 4 ms to 26 ms after
    // the crossing, plus 6.468 ms) over the noise everywhere else.
    SkyAudio audio(Sounder{}, Ionosphere{}, 10);
    std::vector<qint16> samples(SampleRate);
    audio.render(utcNs(8, 0, 1, 18) + 110'000'000'000, 11'000'000, samples);
    double chirp = 0, noise = 0;
    int chirpCount = 0, noiseCount = 0, peak = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const double ms = double(i) * 1e3 / SampleRate - 6.468;
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
    const double snrDb = 10 * std::log10((chirp / chirpCount - noise) / noise);
    QVERIFY2(std::abs(snrDb - 10) < 0.7, qPrintable(QString::number(snrDb)));
    QVERIFY(peak < 32767);
    QVERIFY(peak > 16384); // loud enough to be heard
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
