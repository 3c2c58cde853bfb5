#include "lockablecombobox.h"
#include "loopbackpeer.h"
#include "mainwindow.h"
#include "protocol.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using Window::Main;

namespace {

// 12:34:56.789 local time: every tick steps to 21.9 MHz.
QDateTime fixedNoon()
{
    return QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56, 789));
}

const QByteArray Line21900000("set frequency-hz 21900000\r\n");

void setText(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

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
    void unusableSettingsRefuseToStart();
    void realClockTicksMatchTheSchedule();

private:
    struct Rig
    {
        LoopbackPeer peer;
        Main window{fixedNoon};

        bool connectWindow()
        {
            if (!peer.listen())
                return false;
            setText(window.controls().port, QString::number(peer.port()));
            window.controls().connect->click();
            return QTest::qWaitFor([&] { return window.indicatorColour() == ::Rig::IndicatorGreen; });
        }
    };
};

void TestEndToEnd::tenTicksASecondReachThePeer()
{
    Rig rig;
    QVERIFY(rig.connectWindow());
    QCOMPARE(rig.window.statusCaption(),
             QStringLiteral("Succeeded connection to: 127.0.0.1:%1").arg(rig.peer.port()));

    QElapsedTimer clock;
    rig.window.controls().Command1->click();
    clock.start();
    QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Stop"));
    QTest::qWait(1050);
    rig.window.controls().Command1->click();
    const qint64 elapsed = clock.elapsed();

    QTRY_VERIFY(!rig.peer.lines().isEmpty());
    QTest::qWait(50);
    const QList<QByteArray> lines = rig.peer.lines();
    const qint64 expected = elapsed / 100;
    QVERIFY2(lines.size() >= expected - 1 && lines.size() <= expected,
             qPrintable(QStringLiteral("%1 lines in %2 ms").arg(lines.size()).arg(elapsed)));
    for (const QByteArray &line : lines)
        QCOMPARE(line, Line21900000);
    QCOMPARE(rig.peer.received().size(), lines.size() * Line21900000.size());
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("21.94 MHz"));
    QCOMPARE(rig.window.controls().Text3->text(), QStringLiteral("219.4"));
    QCOMPARE(rig.window.controls().Text5->text(), QStringLiteral("297.4"));
}

void TestEndToEnd::stopWithin100msSendsNothing()
{
    Rig rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QVERIFY(rig.window.controls().chirptime->isReadOnly());
    QTest::qWait(40);
    rig.window.controls().Command1->click();
    QTest::qWait(250);
    QCOMPARE(rig.peer.received(), QByteArray());
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("Stopped"));
    QCOMPARE(rig.window.controls().Text3->text(), QStringLiteral("Text3"));
    QVERIFY(!rig.window.controls().chirptime->isReadOnly());
}

void TestEndToEnd::stopKeepsTheDisplays()
{
    Rig rig;
    rig.window.controls().Command1->click();
    QTRY_COMPARE(rig.window.controls().text2->text(), QStringLiteral("21.94 MHz"));
    rig.window.controls().Command1->click();
    QVERIFY(!rig.window.isTimer1Enabled());
    QTest::qWait(250);
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("21.94 MHz"));
    QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Start"));
}

void TestEndToEnd::connectWhileRunning()
{
    Rig rig;
    QVERIFY(rig.peer.listen());
    setText(rig.window.controls().port, QString::number(rig.peer.port()));
    rig.window.controls().Command1->click();
    // Not connected: every tick ends in the recovery, and the ticks go on.
    QTRY_COMPARE(rig.window.statusCaption(), ::Rig::SendFailedText);
    QCOMPARE(rig.window.indicatorColour(), ::Rig::IndicatorRed);
    QVERIFY(rig.window.isTimer1Enabled());

    rig.window.controls().connect->click();
    QTRY_COMPARE(rig.window.indicatorColour(), ::Rig::IndicatorGreen);
    QTRY_VERIFY(rig.peer.lines().size() >= 3);
    QCOMPARE(rig.peer.lines().first(), Line21900000);
    QVERIFY(rig.window.statusCaption().startsWith(QStringLiteral("Succeeded connection to: ")));
}

void TestEndToEnd::peerEndsWhileRunning_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("peer closes") << "close";
    QTest::newRow("peer resets") << "reset";
    QTest::newRow("peer program ends") << "end";
}

void TestEndToEnd::peerEndsWhileRunning()
{
    QFETCH(QString, how);
    Rig rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());

    if (how == u"reset") {
        rig.peer.resetAll();
    } else {
        if (how == u"end")
            rig.peer.stopListening();
        rig.peer.closeAll();
    }
    // Red and the recovery's words within a tick or two of the client noticing.
    QTRY_COMPARE_WITH_TIMEOUT(rig.window.indicatorColour(), ::Rig::IndicatorRed, 500);
    QCOMPARE(rig.window.statusCaption(), ::Rig::SendFailedText);
    QVERIFY(rig.window.isTimer1Enabled());
    QVERIFY(!rig.window.Winsock().isConnected());

    if (how == u"end") {
        // Started again, the peer is reached by Connect.
        QVERIFY(rig.peer.listen(rig.peer.port()) || rig.peer.listen());
        setText(rig.window.controls().port, QString::number(rig.peer.port()));
        const int before = rig.peer.lines().size();
        rig.window.controls().connect->click();
        QTRY_COMPARE(rig.window.indicatorColour(), ::Rig::IndicatorGreen);
        QTRY_VERIFY(rig.peer.lines().size() > before);
    }
}

void TestEndToEnd::refusedAttemptShowsNothingUntilTheNextTick()
{
    Rig rig;
    setText(rig.window.controls().port, QString::number(closedPort()));
    rig.window.controls().connect->click();
    QTest::qWait(200);
    QCOMPARE(rig.window.statusCaption(), QStringLiteral("Status"));
    QCOMPARE(rig.window.indicatorColour(), ::Rig::IndicatorRed);
    QVERIFY(!rig.window.controls().hrdstatus->toolTip().isEmpty()); // the socket's own words

    rig.window.controls().Command1->click();
    QTRY_COMPARE(rig.window.statusCaption(), ::Rig::SendFailedText);
}

void TestEndToEnd::disconnectWhileRunning()
{
    Rig rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());
    rig.window.controls().disconnect->click();
    QCOMPARE(rig.window.statusCaption(), ::Rig::DisconnectedText);
    QCOMPARE(rig.window.indicatorColour(), ::Rig::IndicatorRed);
    QTRY_COMPARE_WITH_TIMEOUT(rig.window.statusCaption(), ::Rig::SendFailedText, 300);
    QTRY_COMPARE(rig.peer.open(), 0);
}

void TestEndToEnd::connectOnAnOpenConnection()
{
    Rig rig;
    QVERIFY(rig.connectWindow());
    QTRY_COMPARE(rig.peer.open(), 1);
    rig.peer.reply("OK\r\n");
    QTRY_COMPARE(rig.window.statusCaption(), ::Rig::ReplyPrefix + QStringLiteral("OK\r\n"));

    rig.window.controls().connect->click();
    // Nothing visible changes until the new connection is established.
    QCOMPARE(rig.window.statusCaption(), ::Rig::ReplyPrefix + QStringLiteral("OK\r\n"));
    QCOMPARE(rig.window.indicatorColour(), ::Rig::IndicatorGreen);
    QTRY_COMPARE(rig.peer.accepted(), 2);
    QTRY_COMPARE(rig.peer.open(), 1); // the old connection was closed
    QTRY_VERIFY(rig.window.statusCaption().startsWith(QStringLiteral("Succeeded connection to: ")));
}

void TestEndToEnd::sliderMovesTheStepLive()
{
    Rig rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());
    // Ten units: one second later in the sweep, 100 kHz higher.
    rig.window.controls().Slider1->setValue(10);
    QTRY_COMPARE(rig.window.controls().text2->text(), QStringLiteral("22.04 MHz"));
    QTRY_COMPARE(rig.peer.lines().last(), QByteArray("set frequency-hz 22000000\r\n"));
}

void TestEndToEnd::unusableSettingsRefuseToStart()
{
    Rig rig;
    QVERIFY(rig.connectWindow());
    rig.window.controls().Combo_period->setEditText(QStringLiteral("five minutes"));
    rig.window.controls().Command1->click();
    QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Start"));
    QCOMPARE(rig.window.statusCaption(), QStringLiteral(R"(Period "five minutes" is not a number.)"));
    QTest::qWait(250);
    QCOMPARE(rig.peer.received(), QByteArray());

    rig.window.controls().Combo_period->setEditText(QStringLiteral("300"));
    rig.window.controls().Command1->click();
    QTRY_COMPARE(rig.peer.lines().value(0), Line21900000);
}

void TestEndToEnd::realClockTicksMatchTheSchedule()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    Main window; // the system clock
    setText(window.controls().port, QString::number(peer.port()));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), ::Rig::IndicatorGreen);
    window.controls().Command1->click();
    QTRY_VERIFY(peer.lines().size() >= 5);
    window.controls().Command1->click();

    // Each line is the step of a moment between the clock before and after it was sent.
    for (const QByteArray &line : peer.lines()) {
        QVERIFY(line.startsWith("set frequency-hz ") && line.endsWith("00000\r\n"));
        const int hz = line.mid(17, line.size() - 19).toInt();
        QVERIFY2(hz >= 2'000'000 && hz <= 30'000'000, line.constData());
    }
    QVERIFY(window.controls().text2->text().endsWith(QStringLiteral(" MHz")));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
