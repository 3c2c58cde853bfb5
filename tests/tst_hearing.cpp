// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Zarvotel hears the chirp: rigsim tunes a simulated receiver as Zarvotel commands it and
// plays what it hears into the test's own PulseAudio, from which Zarvotel listens.

#include "audiocapture.h"
#include "fixtures.h"
#include "soundserver.h"
#include "sweepscaling.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>

#include <cmath>

class tst_Hearing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    // First: Qt Multimedia must not have met a sound server yet.
    void soundServerStartsLate();
    void echoesFollowTheSky();
    void echoesThroughIq();
    void iqFaultsAreSaid();
    void sweepIsScaled();
    void listeningComesBack();
    void clippingAndSilenceAreSaid();
    void listeningFromTheContextMenu();
    void inputsByName();
    void findsTheSounders();

private:
    SoundServer m_sound;
};

// Listening, with no step tuned yet.
const QString listeningOnRadio
    = QStringLiteral("Listening on radio. Nothing is tuned: the tuning is stopped.");

// Zarvotel tuned through rigsim's rigctld at port to a 300 s sounder (UTC) at chirptime, and
// listening to "radio" into folder, once its launch buttons are pressed.
Window::LaunchOptions
tunedAndListening(quint16 port, const QString &chirptime, const QString &folder)
{
    Window::LaunchOptions options;
    options.protocol = Rig::Protocol::Rigctld;
    options.port = port;
    options.period = QStringLiteral("300");
    options.chirptime = chirptime;
    options.utc = true;
    options.connect = true;
    options.start = true;
    options.listening.inputText = QStringLiteral("radio");
    options.listening.folder = folder;
    return options;
}

// rigsim's rigctld, its 300 s sounder at chirptime, playing into fifo a sky with F2 alone
// (E off), nearly overhead (100 km away), its critical frequency 7.1 MHz.
QStringList overheadSky(const QString &fifo, const QString &chirptime)
{
    return {QStringLiteral("--rig"),
            QStringLiteral("rigctld"),
            QStringLiteral("--audio"),
            fifo,
            QStringLiteral("--period"),
            QStringLiteral("300"),
            QStringLiteral("--chirptime"),
            chirptime,
            QStringLiteral("--path-km"),
            QStringLiteral("100"),
            QStringLiteral("--f2"),
            QStringLiteral("7.1:350:150"),
            QStringLiteral("--e"),
            QStringLiteral("0")};
}

void tst_Hearing::initTestCase()
{
    setUpTestEnvironment();
    m_sound.useFromNow();
}

void tst_Hearing::init()
{
    if (QByteArray(QTest::currentTestFunction()) != "soundServerStartsLate" && !m_sound.isRunning())
        QVERIFY2(m_sound.start(), qPrintable(m_sound.errorString()));
}

// Listening begins before there is a sound server: the status says so, and listening starts
// once the server does.
void tst_Hearing::soundServerStartsLate()
{
    m_sound.stop();
    Listen::ListenOptions options;
    options.inputText = QStringLiteral("radio");
    QTemporaryDir folder;
    options.folder = folder.path();
    Listen::Listener listener(options);
    QTRY_COMPARE_WITH_TIMEOUT(listener.status(),
                              QStringLiteral("No sound server answers (PulseAudio or PipeWire). "
                                             "Listening starts when one does."),
                              10'000);
    QVERIFY2(m_sound.start(), qPrintable(m_sound.errorString()));
    QProcess rigsim;
    QVERIFY(startRigsim(rigsim, {QStringLiteral("--audio"), m_sound.fifo()}) != 0);
    QTRY_COMPARE_WITH_TIMEOUT(listener.status(), listeningOnRadio, 20'000);
    rigsim.kill();
    rigsim.waitForFinished();
}

void tst_Hearing::echoesFollowTheSky()
{
    // A sweep that reaches 5 MHz 8 s from now (period 300 s from UTC midnight): the audio's
    // timing settles first.
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 chirpStartMs = nowMs + 8'000 - 50'000;
    const QString chirptime = QString::number((chirpStartMs / 1000) % 300);
    // One echo at each step, later the nearer the step comes to 7.1 MHz; strong and clear.
    QProcess rigsim;
    const quint16 port
        = startRigsim(rigsim,
                      overheadSky(m_sound.fifo(), chirptime)
                          << QStringLiteral("--levels") << QStringLiteral("off:0:off:off")
                          << QStringLiteral("--snr")
                          << QStringLiteral("15")
                          // The radio starts in LSB: listening sets it to USB.
                          << QStringLiteral("--sideband") << QStringLiteral("lsb"));
    QVERIFY(port != 0);

    QTemporaryDir folder;
    WindowUnderTest window(tunedAndListening(port, chirptime, folder.path()), {});
    window.show();
    window.pressLaunchButtons();
    window.startListening();
    QVERIFY(window.listenSession());
    QSignalSpy heard(&window.listenSession()->listener(), &Listen::Listener::stepHeard);

    // The delay at each step's passband centre (dial + 1500 Hz), worked out apart from the
    // code: the layer's group height h' = 200 km + 75 km r ln((1 + r) / (1 - r)), r = fv /
    // 7.1 MHz, as a mirror 50 km along, fv = f cos(incidence) (spherical earth).
    const QMap<qint32, double> oneHopMs{{5'000'000, 1.959},
                                        {5'500'000, 2.135},
                                        {6'000'000, 2.373},
                                        {6'500'000, 2.739},
                                        {7'000'000, 3.662}};
    QMap<qint32, double> measured;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QList<QVariant> &signal : std::as_const(heard)) {
                const auto reading = signal.first().value<Listen::StepReading>();
                if (oneHopMs.contains(reading.step.dialHz) && !reading.echoes.isEmpty())
                    measured.insert(reading.step.dialHz, reading.echoes.first().delayMs);
            }
            heard.clear();
            return measured.size() == oneHopMs.size();
        }(),
        60'000);

    // The sound server adds a constant delay of its own; beyond it, each step's echo is where
    // the sky put it (the delays span 1.7 ms), within what a busy machine's sound server
    // jitters in the first half minute of listening.
    const double serverMs = measured.first() - oneHopMs.first();
    for (auto it = oneHopMs.cbegin(); it != oneHopMs.cend(); ++it) {
        const double off = measured[it.key()] - serverMs - it.value();
        QVERIFY2(std::abs(off) < 1.0,
                 qPrintable(QStringLiteral("%1 Hz: %2 ms off").arg(it.key()).arg(off)));
    }

    // Each measured step is a row of the sweep's CSV.
    const QString csvName = QDateTime::fromMSecsSinceEpoch(chirpStartMs / 1000 * 1000, Qt::UTC)
                                .toString(QStringLiteral("yyyyMMdd-HHmmss'Z'"))
                            + QStringLiteral(".csv");
    QFile csv(QDir(folder.path()).filePath(csvName));
    QTRY_VERIFY(csv.exists());
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray rows = csv.readAll();
    QVERIFY(rows.startsWith("time_utc,frequency_hz,snr_db,delays_ms\n"));
    QVERIFY2(rows.contains(",6000000,"), rows.constData());

    // Stop stops the ionogram: no step of the stopped time is measured. The capture still
    // measures a step it was asked for before, if one is due (a step's audio is in within
    // 2.5 s); once it has, it was not heard.
    int measuredAfterStop = 0;
    QObject counter;
    connect(Listen::AudioCapture::shared(), &Listen::AudioCapture::measured, &counter, [&] {
        ++measuredAfterStop;
    });
    window.onCommand1Clicked();
    heard.clear();
    (void)QTest::qWaitFor([&] { return measuredAfterStop > 0; }, 2500);
    QCoreApplication::processEvents();
    QCOMPARE(heard.size(), 0);
    // The last step heard is not said as if the radio were still being tuned.
    QCOMPARE(window.listenSession()->listener().status(), listeningOnRadio);
    rigsim.kill();
    rigsim.waitForFinished();
}

// A software radio's I/Q at 192 kHz, through the sound server: at each step the ordinary and
// the extraordinary echo of one hop lie apart as the sky puts them (rigsim's truth), within
// 0.01 ms: the sound server's delay, the same for both, drops out.
void tst_Hearing::echoesThroughIq()
{
    QCOMPARE(m_sound.loadRadioIq(192000), 0);
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 chirpStartMs = nowMs + 8'000 - 50'000;
    const QString chirptime = QString::number((chirpStartMs / 1000) % 300);
    QTemporaryDir folder;
    const QString truthPath = folder.filePath(QStringLiteral("truth.csv"));
    QProcess rigsim;
    const quint16 port
        = startRigsim(rigsim,
                      overheadSky(m_sound.iqFifo(), chirptime)
                          << QStringLiteral("--audio-rate") << QStringLiteral("192000")
                          << QStringLiteral("--iq") << QStringLiteral("--levels")
                          << QStringLiteral("off:0:off:0") << QStringLiteral("--snr")
                          << QStringLiteral("0") << QStringLiteral("--truth") << truthPath);
    QVERIFY(port != 0);

    Window::LaunchOptions options = tunedAndListening(port, chirptime, folder.path());
    options.listening.inputText = QStringLiteral("radio-iq");
    options.listening.iq = true;
    WindowUnderTest window(options, {});
    window.show();
    window.pressLaunchButtons();
    window.startListening();
    QVERIFY(window.listenSession());
    QSignalSpy heard(&window.listenSession()->listener(), &Listen::Listener::stepHeard);

    const QList<qint32> steps{5'000'000, 5'500'000, 6'000'000, 6'500'000};
    QMap<qint32, double> apartMs;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const QList<QVariant> &signal : std::as_const(heard)) {
                const auto reading = signal.first().value<Listen::StepReading>();
                if (steps.contains(reading.step.dialHz) && reading.echoes.size() >= 2)
                    apartMs.insert(reading.step.dialHz,
                                   std::abs(reading.echoes[1].delayMs - reading.echoes[0].delayMs));
            }
            heard.clear();
            return apartMs.size() == steps.size();
        }(),
        60'000);

    QFile truth(truthPath);
    QVERIFY(truth.open(QIODevice::ReadOnly));
    QMap<qint32, QMap<QByteArray, double>> sky; // step: mode: delay
    for (const QByteArray &line : truth.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() == 7 && fields[2] == "echo")
            sky[fields[4].toInt()][fields[3]] = fields[5].toDouble();
    }
    for (const qint32 step : steps) {
        QVERIFY2(sky[step].contains("F2") && sky[step].contains("X"),
                 qPrintable(QString::number(step)));
        const double skyApartMs = std::abs(sky[step]["X"] - sky[step]["F2"]);
        QVERIFY2(std::abs(apartMs[step] - skyApartMs) < 0.01,
                 qPrintable(QStringLiteral("%1 Hz: %2 ms apart, not %3 ms")
                                .arg(step)
                                .arg(apartMs[step])
                                .arg(skyApartMs)));
    }
    rigsim.kill();
    rigsim.waitForFinished();
    // The next test finds the server as it was, without "radio-iq".
    m_sound.stop();
}

// At launch an input that cannot give what is asked is refused in one line; later, the
// status says so, and says I/Q with one channel silent.
void tst_Hearing::iqFaultsAreSaid()
{
    const auto refusal = [](const QStringList &arguments) {
        QProcess zarvotel;
        zarvotel.start(QStringLiteral(ZARVOTEL_PATH), arguments);
        if (!zarvotel.waitForFinished(20'000))
            return QByteArray("still running");
        const QByteArray said = zarvotel.readAllStandardError();
        return QByteArray::number(zarvotel.exitCode()) + ' ' + said.mid(said.indexOf("zarvotel: "));
    };
    QCOMPARE(refusal({QStringLiteral("--listen"),
                      QStringLiteral("--iq"),
                      QStringLiteral("--audio-input"),
                      QStringLiteral("radio")}),
             QByteArray("2 zarvotel: radio gives one channel: I/Q needs two (I left, Q right).\n"));
    QCOMPARE(refusal({QStringLiteral("--listen"),
                      QStringLiteral("--passband"),
                      QStringLiteral("300:30000"),
                      QStringLiteral("--audio-input"),
                      QStringLiteral("radio")}),
             QByteArray("2 zarvotel: radio runs at 48000 Hz: the passband asked for reaches 30000 "
                        "Hz, more than half of that.\n"));

    QTemporaryDir folder;
    Listen::ListenOptions options;
    options.inputText = QStringLiteral("radio");
    options.iq = true;
    options.folder = folder.path();
    {
        Listen::Listener listener(options);
        QTRY_COMPARE_WITH_TIMEOUT(listener.status(),
                                  QStringLiteral("radio gives one channel: I/Q needs two (I left, "
                                                 "Q right). Trying again every 5 s."),
                                  10'000);
    }
    QCOMPARE(m_sound.loadRadioIq(48000), 0);
    options.inputText = QStringLiteral("radio-iq");
    Listen::Listener listener(options);
    QFile fifo(m_sound.iqFifo());
    QVERIFY(fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QString oneChannel = QStringLiteral(
        "radio-iq gives sound on one channel only: I/Q needs both (I left, Q right).");
    // I sounds, Q is silent, in real time.
    QElapsedTimer clock;
    clock.start();
    qint64 written = 0;
    while (clock.elapsed() < 12'000 && listener.status() != oneChannel) {
        QByteArray chunk;
        for (; written < clock.elapsed() * 48; ++written) {
            const qint16 frame[2] = {qint16(written % 2 ? 1000 : -1000), 0};
            chunk.append(reinterpret_cast<const char *>(frame), sizeof frame);
        }
        fifo.write(chunk);
        QTest::qWait(10);
    }
    fifo.close();
    QCOMPARE(listener.status(), oneChannel);
    m_sound.stop();
}

// A sweep heard to its end is scaled: the day's summary has its row, whose one-hop MOF is
// the sky's within one step, and the window shows the day.
void tst_Hearing::sweepIsScaled()
{
    // The sweep reaches 25 MHz 8 s from now and ends 49 s later; F2 alone over 3,000 km, its
    // MOF near 28 MHz.
    const qint64 chirpStartMs = QDateTime::currentMSecsSinceEpoch() + 8'000 - 250'000;
    const QString chirptime = QString::number((chirpStartMs / 1000) % 300);
    QTemporaryDir folder;
    const QString truthPath = folder.filePath(QStringLiteral("truth.csv"));
    QProcess rigsim;
    const quint16 port
        = startRigsim(rigsim, {QStringLiteral("--rig"),       QStringLiteral("rigctld"),
                               QStringLiteral("--audio"),     m_sound.fifo(),
                               QStringLiteral("--period"),    QStringLiteral("300"),
                               QStringLiteral("--chirptime"), chirptime,
                               QStringLiteral("--path-km"),   QStringLiteral("3000"),
                               QStringLiteral("--f2"),        QStringLiteral("10:300:100"),
                               QStringLiteral("--e"),         QStringLiteral("0"),
                               QStringLiteral("--levels"),    QStringLiteral("off:0:off:off"),
                               QStringLiteral("--snr"),       QStringLiteral("15"),
                               QStringLiteral("--truth"),     truthPath});
    QVERIFY(port != 0);

    WindowUnderTest window(tunedAndListening(port, chirptime, folder.path()), {});
    window.show();
    window.pressLaunchButtons();
    window.startListening();
    QVERIFY(window.listenSession());
    QSignalSpy scaled(&window.listenSession()->listener(), &Listen::Listener::sweepScaled);
    QVERIFY(scaled.wait(75'000));
    rigsim.kill();
    rigsim.waitForFinished();

    // The sky's MOF for the sweep, as the simulator drew it.
    const QString sweepTime = QDateTime::fromMSecsSinceEpoch(chirpStartMs / 1000 * 1000, Qt::UTC)
                                  .toString(Qt::ISODateWithMs);
    QFile truth(truthPath);
    QVERIFY(truth.open(QIODevice::ReadOnly));
    qint64 truthHz = 0;
    for (const QByteArray &line : truth.readAll().split('\n')) {
        if (line.startsWith(sweepTime.toLatin1() + ",1,mof,F2,"))
            truthHz = line.split(',').at(4).toLongLong();
    }
    QVERIFY2(truthHz > 25'000'000, qPrintable(sweepTime));

    QFile summary(QDir(folder.path())
                      .filePath(Listen::summaryFileName(
                          QDateTime::fromMSecsSinceEpoch(chirpStartMs, Qt::UTC).date())));
    QVERIFY(summary.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = summary.readAll().split('\n');
    QCOMPARE(rows.size(), 3); // the header, the sweep's row and the end of the last line
    QCOMPARE(rows[0],
             QByteArray("time_utc,period_s,chirptime_s,rate_khz_s,mof_hz,mof_delay_ms,mof2_hz,"
                        "mof2_delay_ms,steps_heard,steps_measured"));
    const QList<QByteArray> cells = rows[1].split(',');
    QCOMPARE(cells.size(), 10);
    QCOMPARE(cells[0], sweepTime.toLatin1());
    QCOMPARE(cells[1] + ',' + cells[2] + ',' + cells[3], "300," + chirptime.toLatin1() + ",100");
    QVERIFY2(std::abs(cells[4].toLongLong() - truthHz) <= 100'000, rows[1].constData());
    QVERIFY2(cells[6].isEmpty(), rows[1].constData()); // no second hop in this sky
    QVERIFY2(cells[9].toInt() >= 40, rows[1].constData());
    QVERIFY(QFile::exists(QDir(folder.path())
                              .filePath(Listen::dayPlotFileName(
                                  QDateTime::fromMSecsSinceEpoch(chirpStartMs, Qt::UTC).date()))));
    QTRY_VERIFY(window.listenSession()->window().dayText().isEmpty());
}

// Listening comes back by itself after each of these: the ionogram window closed and opened
// again (a listener ended and another made), the input gone away (a USB sound card unplugged)
// and back, and the sound server restarted.
void tst_Hearing::listeningComesBack()
{
    QProcess rigsim;
    QVERIFY(startRigsim(rigsim, {QStringLiteral("--audio"), m_sound.fifo()}) != 0);
    Listen::ListenOptions options;
    options.inputText = QStringLiteral("radio");
    QTemporaryDir folder;
    options.folder = folder.path();
    {
        Listen::Listener first(options);
        QTRY_COMPARE_WITH_TIMEOUT(first.status(), listeningOnRadio, 10'000);
    }
    Listen::Listener listener(options);
    QTRY_COMPARE_WITH_TIMEOUT(listener.status(), listeningOnRadio, 10'000);

    QCOMPARE(m_sound.pactl({QStringLiteral("unload-module"), QStringLiteral("module-pipe-source")}),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(listener.status().startsWith(QStringLiteral("Lost radio."))
                                 || listener.status().startsWith(QStringLiteral("No audio input")),
                             10'000);
    rigsim.kill();
    rigsim.waitForFinished();
    QCOMPARE(m_sound.loadRadio(), 0);
    QVERIFY(startRigsim(rigsim, {QStringLiteral("--audio"), m_sound.fifo()}) != 0);
    QTRY_COMPARE_WITH_TIMEOUT(listener.status(), listeningOnRadio, 20'000);

    rigsim.kill();
    rigsim.waitForFinished();
    m_sound.stop();
    QTRY_VERIFY_WITH_TIMEOUT(listener.status().startsWith(QStringLiteral("Lost radio."))
                                 || listener.status().startsWith(QStringLiteral("No sound server")),
                             10'000);
    QVERIFY2(m_sound.start(), qPrintable(m_sound.errorString()));
    QVERIFY(startRigsim(rigsim, {QStringLiteral("--audio"), m_sound.fifo()}) != 0);
    QTRY_COMPARE_WITH_TIMEOUT(listener.status(), listeningOnRadio, 20'000);
    rigsim.kill();
    rigsim.waitForFinished();
}

// Audio at full scale, then digital silence, then sound again: each is said while it lasts.
void tst_Hearing::clippingAndSilenceAreSaid()
{
    Listen::ListenOptions options;
    options.inputText = QStringLiteral("radio");
    QTemporaryDir folder;
    options.folder = folder.path();
    Listen::Listener listener(options);
    QFile fifo(m_sound.fifo());
    QVERIFY(fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered));

    // Plays a square wave of `level` in real time until the status reads `status`.
    const auto playUntil = [&](qint16 level, const QString &status) {
        QElapsedTimer clock;
        clock.start();
        qint64 written = 0;
        while (clock.elapsed() < 12'000) {
            QByteArray chunk;
            for (; written < clock.elapsed() * 48; ++written) {
                const qint16 sample = written % 2 ? level : qint16(-level);
                chunk.append(reinterpret_cast<const char *>(&sample), sizeof sample);
            }
            fifo.write(chunk);
            if (listener.status() == status)
                return true;
            QTest::qWait(10);
        }
        qWarning() << "status:" << listener.status();
        return false;
    };
    QVERIFY(playUntil(1000, listeningOnRadio));
    // Steps that reach no radio are not said as listening to it; steps that do are. The
    // step is 14.3 MHz with its chirp 3.6 s off, so nothing is measured.
    Tracking::StepResult step;
    step.periodMs = 300'000;
    step.chirpPositionMs = 140'000;
    step.stepHz = 14'300'000;
    const Tracking::Sounder sounder{300'000, 78'000, 100};
    listener.onStepTaken(QDateTime::currentMSecsSinceEpoch(), step, sounder, false);
    QCOMPARE(listener.status(),
             QStringLiteral("Listening on radio. Nothing is tuned: no rig-control program is "
                            "connected."));
    listener.onStepTaken(QDateTime::currentMSecsSinceEpoch(), step, sounder, true);
    QCOMPARE(listener.status(), QStringLiteral("Listening on radio."));
    listener.onStopped();
    QVERIFY(playUntil(32767, QStringLiteral("radio clips: turn the receiver's audio down.")));
    QVERIFY(playUntil(0, QStringLiteral("No sound from radio.")));
    QVERIFY(playUntil(1000, listeningOnRadio));
    // The audio stops while the input stays: it is opened again until audio comes.
    QTRY_COMPARE_WITH_TIMEOUT(
        listener.status(), QStringLiteral("Lost radio. Trying again every 5 s."), 10'000);
    QVERIFY(playUntil(1000, listeningOnRadio));
}

// The main window offers listening on its background's context menu, and shows the ionogram
// window beside it; a second time shows the same window.
void tst_Hearing::listeningFromTheContextMenu()
{
    WindowUnderTest window;
    window.show();
    QCOMPARE(window.contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction *listen = window.findChild<QAction *>(QStringLiteral("listenAction"));
    QVERIFY(listen);
    QCOMPARE(listen->text(), QStringLiteral("Listen to the receiver"));
    listen->trigger();
    QVERIFY(window.listenSession());
    Window::IonogramWindow &ionogram = window.listenSession()->window();
    QCOMPARE(ionogram.windowTitle(), QStringLiteral("Zarvotel ionogram"));
    QVERIFY(ionogram.isVisible());
    listen->trigger();
    QCOMPARE(&window.listenSession()->window(), &ionogram);
    // Closing the ionogram window ends listening.
    ionogram.close();
    QTRY_VERIFY(!window.listenSession());
}

// --audio-inputs lists the inputs, and says when no sound server answers; --audio-input
// naming none of them is refused in one line.
void tst_Hearing::inputsByName()
{
    QProcess zarvotel;
    zarvotel.start(QStringLiteral(ZARVOTEL_PATH), {QStringLiteral("--audio-inputs")});
    QVERIFY(zarvotel.waitForFinished(20'000));
    QCOMPARE(zarvotel.exitCode(), 0);
    QCOMPARE(zarvotel.readAllStandardOutput(), QByteArray("radio: 48000 Hz, 1 channel\n"));

    const QTemporaryDir nowhere;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"),
                       QStringLiteral("unix:") + nowhere.filePath(QStringLiteral("native")));
    zarvotel.setProcessEnvironment(environment);
    zarvotel.start(QStringLiteral(ZARVOTEL_PATH), {QStringLiteral("--audio-inputs")});
    QVERIFY(zarvotel.waitForFinished(20'000));
    QCOMPARE(zarvotel.exitCode(), 1);
    QCOMPARE(zarvotel.readAllStandardOutput(), QByteArray());
    const QByteArray noServer = zarvotel.readAllStandardError();
    QCOMPARE(noServer.mid(noServer.indexOf("zarvotel: ")),
             QByteArray("zarvotel: no sound server answers (PulseAudio or PipeWire), so there is "
                        "no audio input.\n"));
    zarvotel.setProcessEnvironment(QProcessEnvironment::systemEnvironment());

    zarvotel.start(
        QStringLiteral(ZARVOTEL_PATH),
        {QStringLiteral("--listen"), QStringLiteral("--audio-input"), QStringLiteral("USB CODEC")});
    QVERIFY(zarvotel.waitForFinished(20'000));
    QCOMPARE(zarvotel.exitCode(), 2);
    // Qt may say something of the environment first; the program's own line is the last.
    const QByteArray error = zarvotel.readAllStandardError();
    QCOMPARE(error.mid(error.indexOf("zarvotel: ")),
             QByteArray("zarvotel: no audio input's name contains \"USB CODEC\"; the inputs are: "
                        "radio\n"));
}

// Parked at 7 MHz, zarvotel --find hears two sounders of different rates cross the dial and
// prints their timing.
void tst_Hearing::findsTheSounders()
{
    // 7 MHz is 70 s into a 100 kHz/s sweep and 56 s into a 125 kHz/s one: chirptimes that
    // bring the chirps to the dial 8 and 16 s from now, in periods of 60 s from UTC midnight.
    // The default sky: E, F2 and two hops of F2 within 0.9 ms, each chirp heard at its own rate.
    const qint64 nowS = QDateTime::currentSecsSinceEpoch();
    const qint64 first = ((nowS + 8 - 70) % 60 + 60) % 60;
    const qint64 second = ((nowS + 16 - 56) % 60 + 60) % 60;
    QProcess rigsim;
    const quint16 port = startRigsim(rigsim,
                                     {QStringLiteral("--rig"),
                                      QStringLiteral("rigctld"),
                                      QStringLiteral("--audio"),
                                      m_sound.fifo(),
                                      QStringLiteral("--sounder"),
                                      QStringLiteral("60:%1").arg(first),
                                      QStringLiteral("--sounder"),
                                      QStringLiteral("60:%1:125").arg(second)});
    QVERIFY(port != 0);

    QTemporaryDir folder;
    QProcess zarvotel;
    zarvotel.start(QStringLiteral(ZARVOTEL_PATH),
                   {QStringLiteral("--rig"),
                    QStringLiteral("rigctld"),
                    QStringLiteral("--port"),
                    QString::number(port),
                    QStringLiteral("--find"),
                    QStringLiteral("7000000"),
                    QStringLiteral("--period"),
                    QStringLiteral("60"),
                    QStringLiteral("--utc"),
                    QStringLiteral("--audio-input"),
                    QStringLiteral("radio"),
                    QStringLiteral("--find-seconds"),
                    QStringLiteral("22"),
                    QStringLiteral("--ionograms"),
                    folder.path()});
    // A second Zarvotel on the same folder is refused at launch, in one line.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.filePath(QStringLiteral(".zarvotel.lock"))),
                             10'000);
    QProcess another;
    another.start(QStringLiteral(ZARVOTEL_PATH),
                  {QStringLiteral("--listen"),
                   QStringLiteral("--audio-input"),
                   QStringLiteral("radio"),
                   QStringLiteral("--ionograms"),
                   folder.path()});
    QVERIFY(another.waitForFinished(10'000));
    QCOMPARE(another.exitCode(), 2);
    // Only Zarvotel's own lines: Qt may warn of the environment first.
    const QStringList refusal = QString::fromUtf8(another.readAllStandardError())
                                    .split(u'\n')
                                    .filter(QRegularExpression(QStringLiteral("^zarvotel: ")));
    QCOMPARE(refusal,
             QStringList(QStringLiteral("zarvotel: the ionogram folder %1 is in use by another "
                                        "Zarvotel (process %2); give another with --ionograms")
                             .arg(folder.path())
                             .arg(zarvotel.processId())));
    QVERIFY(zarvotel.waitForFinished(60'000));
    QCOMPARE(zarvotel.exitCode(), 0);
    const QStringList lines
        = QString::fromUtf8(zarvotel.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    rigsim.kill();
    rigsim.waitForFinished();

    // The list comes last; the strongest echo (F2, 5.53 ms at 7 MHz) and the sound
    // server's delay are in the hundredths.
    const qsizetype list = lines.indexOf(QStringLiteral("2 sounders found:"));
    QVERIFY2(list >= 0, qPrintable(lines.join(u'\n')));
    const QRegularExpression form(QStringLiteral(
        R"(^sounder: period 60 s, chirptime (\d+\.\d\d) s, rate (\d+) kHz/s, snr \d+\.\d dB$)"));
    QMap<int, double> chirptimes;
    for (const QString &line : lines.mid(list + 1)) {
        const auto match = form.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        chirptimes.insert(match.captured(2).toInt(), match.captured(1).toDouble());
    }
    QCOMPARE(chirptimes.keys(), (QList<int>{100, 125}));
    QVERIFY2(std::abs(chirptimes[100] - double(first) - 0.01) < 0.02,
             qPrintable(lines.join(u'\n')));
    QVERIFY2(std::abs(chirptimes[125] - double(second) - 0.01) < 0.02,
             qPrintable(lines.join(u'\n')));
}

QTEST_MAIN(tst_Hearing)
#include "tst_hearing.moc"
