// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The window, the tick cycle and the link together against a loopback peer.

#include "fixtures.h"
#include "ionogramwindow.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray Line21900000("set frequency-hz 21900000\r\n");

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestEnvironment(); }

    void tenTicksASecondReachThePeer();
    void stopWithin100msSendsNothing();
    void stopKeepsTheDisplays();
    void connectWhileRunning();
    void peerEndsWhileRunning_data();
    void peerEndsWhileRunning();
    void refusedAttemptShowsNothingUntilTheNextTick();
    void disconnectWhileRunning();
    void connectOnAnOpenConnection();
    void sliderMovesTheStepLive();
    void realClockTicksMatchTheSchedule();
    void launchedToConnectAndStart();
    void reconnectsWhenTheProgramComesBack();
    void launchIntentEndsAtTheUsersPress();
    void ionogramReopenedInASweep();
};

void TestEndToEnd::tenTicksASecondReachThePeer()
{
    Station rig;
    QVERIFY(rig.connectWindow());
    QCOMPARE(rig.window.statusCaption(),
             QStringLiteral("Succeeded connection to: 127.0.0.1:%1").arg(rig.peer.port()));

    QElapsedTimer clock;
    rig.window.controls().Command1->click();
    clock.start();
    QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.peer.lines().size() >= 10, 3000);
    const qint64 tenthMs = clock.elapsed();
    rig.window.controls().Command1->click();

    // The tenth tick comes 1000 ms after Start, never sooner; a loaded machine may delay it.
    QVERIFY2(tenthMs >= 995 && tenthMs <= 1500, qPrintable(QString::number(tenthMs)));
    QVERIFY(rig.flush());
    const QList<QByteArray> lines = rig.peer.lines().mid(0, rig.peer.lines().size() - 1);
    QVERIFY2(lines.size() <= 11, qPrintable(QString::number(lines.size())));
    for (const QByteArray &line : lines)
        QCOMPARE(line, Line21900000);
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("21.94 MHz"));
    QCOMPARE(rig.window.controls().Text3->text(), QStringLiteral("219.4"));
    QCOMPARE(rig.window.controls().Text5->text(), QStringLiteral("297.4"));
}

void TestEndToEnd::stopWithin100msSendsNothing()
{
    Station rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QVERIFY(rig.window.controls().chirptime->isReadOnly());
    rig.window.controls().Command1->click();
    QVERIFY(!rig.window.isTimer1Enabled());
    QVERIFY(!rig.window.controls().chirptime->isReadOnly());

    QVERIFY(rig.flush());
    QCOMPARE(rig.peer.received(), QByteArray("marker\r\n"));
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("Stopped"));
    QCOMPARE(rig.window.controls().Text3->text(), QStringLiteral("Text3"));
}

void TestEndToEnd::stopKeepsTheDisplays()
{
    Station rig;
    rig.window.controls().Command1->click();
    QTRY_COMPARE(rig.window.controls().text2->text(), QStringLiteral("21.94 MHz"));
    rig.window.controls().Command1->click();
    QVERIFY(!rig.window.isTimer1Enabled());
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("21.94 MHz"));
    QCOMPARE(rig.window.controls().Text3->text(), QStringLiteral("219.4"));
    QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Start"));
}

void TestEndToEnd::connectWhileRunning()
{
    Station rig;
    rig.window.controls().Command1->click();
    // Not connected: every tick ends in the recovery, and the ticks go on.
    QTRY_COMPARE(rig.window.statusCaption(), ReadyToConnect);
    QCOMPARE(rig.window.indicatorColour(), Red);
    QVERIFY(rig.window.isTimer1Enabled());

    // On loopback the connection is established long before the next tick, whose line
    // then goes out.
    rig.window.controls().connect->click();
    QTRY_COMPARE(rig.window.indicatorColour(), Green);
    QTRY_VERIFY(rig.peer.lines().size() >= 3);
    QCOMPARE(rig.peer.lines().first(), Line21900000);
    QCOMPARE(rig.window.statusCaption(),
             QStringLiteral("Succeeded connection to: 127.0.0.1:%1").arg(rig.peer.port()));
}

void TestEndToEnd::peerEndsWhileRunning_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("peer closes") << "close";
    QTest::newRow("peer resets") << "reset";
    QTest::newRow("peer half-closes") << "half-close";
}

void TestEndToEnd::peerEndsWhileRunning()
{
    QFETCH(QString, how);
    Station rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());

    if (how == u"reset")
        rig.peer.resetAll();
    else if (how == u"close")
        rig.peer.closeAll();
    else
        rig.peer.halfCloseAll();
    // Red and the recovery's words within a tick or two of the client noticing.
    QTRY_COMPARE_WITH_TIMEOUT(rig.window.indicatorColour(), Red, 1000);
    QCOMPARE(rig.window.statusCaption(), ReadyToConnect);
    QVERIFY(rig.window.isTimer1Enabled());
    QVERIFY(!rig.window.Winsock().isConnected());
    QTRY_COMPARE(rig.peer.open(), 0);
}

void TestEndToEnd::refusedAttemptShowsNothingUntilTheNextTick()
{
    Station rig;
    rig.window.controls().port->setText(QString::number(closedPort()));
    rig.window.controls().connect->click();
    // The socket's own words go to the indicator's tooltip; the window shows nothing else.
    QTRY_COMPARE(rig.window.controls().hrdstatus->toolTip(), QStringLiteral("Connection refused"));
    QCOMPARE(rig.window.statusCaption(), QStringLiteral("Status"));
    QCOMPARE(rig.window.indicatorColour(), Red);

    rig.window.controls().Command1->click();
    QTRY_COMPARE(rig.window.statusCaption(), ReadyToConnect);
}

void TestEndToEnd::disconnectWhileRunning()
{
    Station rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());
    rig.window.controls().disconnect->click();
    QCOMPARE(rig.window.statusCaption(), QStringLiteral("Disconnected"));
    QCOMPARE(rig.window.indicatorColour(), Red);
    QTRY_COMPARE_WITH_TIMEOUT(rig.window.statusCaption(), ReadyToConnect, 1000);
    QTRY_COMPARE(rig.peer.open(), 0);
}

void TestEndToEnd::connectOnAnOpenConnection()
{
    Station rig;
    QVERIFY(rig.connectWindow());
    QTRY_COMPARE(rig.peer.open(), 1);
    rig.peer.send("OK\r\n");
    QTRY_COMPARE(rig.window.statusCaption(), Sending + QStringLiteral("OK\r\n"));

    rig.window.controls().connect->click();
    // Nothing visible changes until the new connection is established.
    QCOMPARE(rig.window.statusCaption(), Sending + QStringLiteral("OK\r\n"));
    QCOMPARE(rig.window.indicatorColour(), Green);
    QTRY_COMPARE(rig.peer.accepted(), 2);
    QTRY_COMPARE(rig.peer.open(), 1); // the old connection was closed
    QTRY_COMPARE(rig.window.statusCaption(),
                 QStringLiteral("Succeeded connection to: 127.0.0.1:%1").arg(rig.peer.port()));
}

void TestEndToEnd::sliderMovesTheStepLive()
{
    Station rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());
    // Ten units: one second later in the sweep, 100 kHz higher.
    rig.window.controls().Slider1->setValue(10);
    QTRY_COMPARE(rig.window.controls().text2->text(), QStringLiteral("22.04 MHz"));
    QTRY_COMPARE(rig.peer.lines().last(), QByteArray("set frequency-hz 22000000\r\n"));
}

namespace {

// The step of a moment of the day by the schedule, worked in whole seconds: with the 600 ms
// lead, 100 kHz for every whole second since the chirp began; before 20 s and after 300 s
// of sweep the radio waits at 2 MHz.
qint32 scheduledStepHz(const QTime &time, int periodS, int chirptimeS)
{
    const qint64 sinceChirpMs
        = ((time.msecsSinceStartOfDay() + 600) - chirptimeS * 1000LL) % (periodS * 1000LL);
    const qint64 seconds = (sinceChirpMs + periodS * 1000LL) % (periodS * 1000LL) / 1000;
    if (seconds < 20 || seconds >= 300)
        return 2'000'000;
    return qint32(seconds * 100'000);
}

} // namespace

void TestEndToEnd::realClockTicksMatchTheSchedule()
{
    Station rig({.clock = {}}); // the system clock
    // A chirp that began about 150 s ago: the steps climb through 15 MHz, one a second.
    const int secondOfPeriod = QTime::currentTime().msecsSinceStartOfDay() / 1000 % 300;
    const int chirptimeS = (secondOfPeriod + 300 - 150) % 300;
    rig.window.controls().chirptime->setText(QString::number(chirptimeS));
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.peer.commands().size() >= 15, 5000);
    rig.window.controls().Command1->click();

    // Each line is the step of a moment shortly before it arrived.
    QSet<qint32> steps;
    for (const Peer::Command &command : rig.peer.commands()) {
        const QTime arrived = command.taken.time();
        const qint32 sent = command.text.mid(17).toInt();
        const qint32 atArrival = scheduledStepHz(arrived, 300, chirptimeS);
        const qint32 before = scheduledStepHz(arrived.addMSecs(-250), 300, chirptimeS);
        QVERIFY2(
            sent == atArrival || sent == before,
            qPrintable(
                QStringLiteral("%1 at %2").arg(command.text, arrived.toString(u"HH:mm:ss.zzz"))));
        steps << sent;
    }
    QVERIFY(steps.size() >= 2); // the schedule moved on while it ran
}

void TestEndToEnd::launchedToConnectAndStart()
{
    Peer::RigPeer peer(Peer::Dialect::HrdText, Peer::Behaviour::Silent);
    QVERIFY(peer.listen());
    Window::LaunchOptions options;
    options.period = QStringLiteral("600");
    options.chirptime = QStringLiteral("78.5");
    options.offsetUnits = 2;
    options.port = peer.port();
    options.connect = options.start = true;
    WindowUnderTest window(options, fixedNoon);
    QCOMPARE(window.periodText(), QStringLiteral("600"));
    QCOMPARE(window.chirptimeText(), QStringLiteral("78.5"));
    QCOMPARE(window.slider1Value(), 2);

    window.pressLaunchButtons();
    // Start waits for the connection: a tick before it would abandon the attempt.
    QCOMPARE(window.controls().Command1->text(), QStringLiteral("Start"));
    QTRY_COMPARE(window.controls().Command1->text(), QStringLiteral("Stop"));
    // 45,297,389 ms is 297,389 ms into a 600 s period; 297,389 - 78,500 + 200 = 219,089 ms.
    QTRY_VERIFY(!peer.lines().isEmpty());
    QCOMPARE(peer.lines().first(), Line21900000);
    QCOMPARE(window.controls().text2->text(), QStringLiteral("21.91 MHz"));
}

void TestEndToEnd::reconnectsWhenTheProgramComesBack()
{
    Peer::RigPeer peer(Peer::Dialect::HrdText, Peer::Behaviour::Silent);
    QVERIFY(peer.listen());
    const quint16 port = peer.port();
    Window::LaunchOptions options;
    options.port = port;
    options.connect = options.start = true;
    options.reconnectSeconds = 1;
    WindowUnderTest window(options, fixedNoon);
    window.pressLaunchButtons();
    QTRY_VERIFY(!peer.lines().isEmpty());

    // The program goes away: the window says it will try again, and the ticks stop sending.
    peer.stopListening();
    peer.closeAll();
    const QString waiting = QStringLiteral("HamRadioDeluxe needs to be running. Retry in 1 s.");
    QTRY_COMPARE(window.statusCaption(), waiting);
    QCOMPARE(window.controls().status->toolTip(),
             QStringLiteral(
                 "Ready to connect, HamRadioDeluxe needs to be running. Trying again in 1 s."));
    QCOMPARE(window.indicatorColour(), Red);
    QVERIFY(window.isTimer1Enabled());
    // Attempts on the closed port are refused and tried again; the window keeps waiting.
    QTRY_COMPARE_WITH_TIMEOUT(
        window.controls().hrdstatus->toolTip(), QStringLiteral("Connection refused"), 3000);
    QCOMPARE(window.statusCaption(), waiting);

    // Back on its port: lines resume within SECONDS + 1 with no click.
    const qsizetype before = peer.lines().size();
    QVERIFY(peer.listen(port));
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(peer.lines().size() > before, 2000);
    QVERIFY2(clock.elapsed() <= 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(window.indicatorColour(), Green);
    QCOMPARE(peer.accepted() >= 2, true);

    // Disconnect stops the retries until the next Connect.
    window.controls().disconnect->click();
    QTRY_COMPARE(window.statusCaption(), ReadyToConnect);
    // No retry waits: the link tries again only from WaitingRetry.
    QCOMPARE(window.rigLink().state(), Rig::RigLink::State::Closed);
}

void TestEndToEnd::launchIntentEndsAtTheUsersPress()
{
    // Launched to connect and start where nothing listens yet.
    Peer::RigPeer peer(Peer::Dialect::HrdText, Peer::Behaviour::Silent);
    const quint16 port = closedPort();
    Window::LaunchOptions options;
    options.port = port;
    options.connect = options.start = true;
    WindowUnderTest window(options, fixedNoon);
    window.pressLaunchButtons();
    const Window::MainControls &ui = window.controls();
    // The user starts and stops; later the program comes up and the user connects.
    ui.Command1->click();
    QTRY_COMPARE(window.statusCaption(),
                 QStringLiteral("Ready to connect, HamRadioDeluxe needs to be running."));
    ui.Command1->click();
    QVERIFY(peer.listen(port));
    ui.connect->click();
    // The launch intent is asked as the link comes up (with the green light): stopped is what
    // the user last said, so no tick runs.
    QTRY_COMPARE(window.indicatorColour(), 65280);
    QCOMPARE(ui.Command1->text(), QStringLiteral("Start"));
    QVERIFY(!window.isTimer1Enabled());
    // Nothing was sent: whatever was, the peer reads before it sees the connection close.
    QTRY_COMPARE(peer.open(), 1);
    ui.disconnect->click();
    QTRY_COMPARE(peer.open(), 0);
    QCOMPARE(peer.received(), QByteArray());
}

// The ionogram window closed in the middle of a sweep and opened again: the sweep's picture
// keeps the columns drawn before and after.
void TestEndToEnd::ionogramReopenedInASweep()
{
    QTemporaryDir dir;
    Listen::ListenOptions options;
    options.folder = dir.path();
    const qint64 sweepStartMs = 1'796'700'000'000; // 2026-12-08 03:20:00 UTC
    for (const auto &[dialHz, snrDb] : {std::pair{2'000'000, 36.0f}, std::pair{3'000'000, 6.0f}}) {
        Listen::Listener listener(options);
        Window::IonogramWindow window(listener, [] { return QStringLiteral("15:00"); });
        window.onSweepBegun(sweepStartMs);
        if (dialHz == 3'000'000) // the part drawn before comes back into the window
            QTRY_VERIFY(!window.picture().isEmpty());
        window.onStepHeard({{sweepStartMs, dialHz, double(sweepStartMs) + 1000}, {}, 0, {snrDb}});
        window.close();
    }
    // Columns 0 (2 MHz, 36 dB: the scale's top) and 10 (3 MHz, 6 dB: its foot); 5 unheard.
    const QImage saved(dir.filePath(QStringLiteral("20261208-032000Z.png")));
    QCOMPARE(saved.pixel(56, 30), 0xfffcfdbfu);
    QCOMPARE(saved.pixel(86, 30), 0xff000428u);
    QCOMPARE(saved.pixel(71, 30), 0xff9a9a9au);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
