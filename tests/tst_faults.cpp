// Faults of the network and of the user's input, against the real window and timers.

#include "lockablecombobox.h"
#include "loopbackpeer.h"
#include "mainwindow.h"
#include "processprobe.h"
#include "protocol.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <algorithm>

using Window::Main;

namespace {

QDateTime fixedNoon()
{
    return QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56, 789));
}

// A listener whose accept queue is full, so that a further connection attempt stays pending.
struct FullBacklogListener
{
    quint16 port = 0;
    sockaddr_in address{};
    const int listener = listenOnLoopback(0, &port, &address);
    QList<int> fillers;

    FullBacklogListener()
    {
        for (int i = 0; i < 3; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
            fillers << filler;
        }
        QThread::msleep(50); // let the handshakes that can complete, complete
    }
    ~FullBacklogListener()
    {
        for (int filler : std::as_const(fillers))
            ::close(filler);
        ::close(listener);
    }
};

// A peer in its own thread that floods every connection with random bytes for a while.
class FloodPeer : public QThread
{
public:
    explicit FloodPeer(int milliseconds)
        : m_milliseconds(milliseconds)
    {}
    quint16 port() const { return m_port.loadAcquire(); }
    qint64 sent() const { return m_sent.loadAcquire(); }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port.storeRelease(server.serverPort());
        if (!server.waitForNewConnection(5000))
            return;
        QTcpSocket *socket = server.nextPendingConnection();
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < m_milliseconds && socket->state() == QAbstractSocket::ConnectedState) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(chunk.data()),
                                                  chunk.size() / 4);
            socket->write(chunk);
            socket->waitForBytesWritten(100);
            m_sent.fetchAndAddRelease(chunk.size());
            while (socket->bytesAvailable())
                socket->readAll();
        }
        socket->close();
        delete socket;
    }

private:
    int m_milliseconds;
    QAtomicInteger<quint16> m_port{0};
    QAtomicInteger<qint64> m_sent{0};
};

struct Station
{
    LoopbackPeer peer;
    Main window{fixedNoon};

    bool connectTo(quint16 port)
    {
        window.controls().port->setText(QString::number(port));
        window.controls().connect->click();
        return QTest::qWaitFor([&] { return window.indicatorColour() == Rig::IndicatorGreen; });
    }
};

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void halfClosingPeer();
    void killedPeerProcessRestarted();
    void pendingAttemptAbandonedByTheNextTick();
    void peerThatNeverReads();
    void floodingPeerKeepsTheRhythm();
    void connectDisconnectCycles();
    void hostileSettings_data();
    void hostileSettings();
    void hostileLinkFields_data();
    void hostileLinkFields();
};

void TestFaults::halfClosingPeer()
{
    Station rig;
    QVERIFY(rig.peer.listen());
    QVERIFY(rig.connectTo(rig.peer.port()));
    rig.window.controls().Command1->click();
    QTRY_VERIFY(!rig.peer.lines().isEmpty());
    rig.peer.halfCloseAll();
    QTRY_COMPARE_WITH_TIMEOUT(rig.window.statusCaption(), Rig::SendFailedText, 500);
    QCOMPARE(rig.window.indicatorColour(), Rig::IndicatorRed);
    QTRY_COMPARE(rig.peer.open(), 0);
}

void TestFaults::killedPeerProcessRestarted()
{
    const quint16 port = closedPort();
    const auto startPeer = [port](QProcess &process) {
        process.start(QStringLiteral(RIGSIM_PATH), {QStringLiteral("--port"), QString::number(port)});
        return process.waitForReadyRead(5000)
               && process.readLine().startsWith("rigsim listening");
    };
    QProcess first;
    QVERIFY(startPeer(first));

    Main window(fixedNoon);
    window.controls().port->setText(QString::number(port));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), Rig::IndicatorGreen);
    window.controls().Command1->click();
    QTRY_VERIFY(window.statusCaption().startsWith(Rig::ReplyPrefix));

    first.kill();
    first.waitForFinished();
    QTRY_COMPARE_WITH_TIMEOUT(window.statusCaption(), Rig::SendFailedText, 500);
    QCOMPARE(window.indicatorColour(), Rig::IndicatorRed);
    QVERIFY(window.isTimer1Enabled());

    QProcess second;
    QVERIFY(startPeer(second));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), Rig::IndicatorGreen);
    QTRY_COMPARE(window.statusCaption(), Rig::ReplyPrefix + QStringLiteral("OK\r\n"));
    second.kill();
    second.waitForFinished();
}

void TestFaults::pendingAttemptAbandonedByTheNextTick()
{
    FullBacklogListener listener;
    Main window(fixedNoon);
    QStringList sent;
    window.tickCycle().setSendStep([&](const QString &step) {
        sent << step;
        window.rigLink().SendStep(step);
    });
    window.controls().port->setText(QString::number(listener.port));
    window.controls().connect->click();
    QTest::qWait(150);
    QVERIFY(!window.Winsock().isConnected()); // still pending
    QCOMPARE(window.statusCaption(), QStringLiteral("Status"));

    QElapsedTimer clock;
    clock.start();
    window.controls().Command1->click();
    QTRY_COMPARE(window.statusCaption(), Rig::SendFailedText);
    QVERIFY2(clock.elapsed() < 300, "the tick waited for the network");
    QTest::qWait(500);
    QVERIFY(sent.size() >= 5); // the ticks went on
    QVERIFY(!window.Winsock().isConnected());
}

void TestFaults::peerThatNeverReads()
{
    StalledListener stalled;

    Main window(fixedNoon);
    window.controls().port->setText(QString::number(stalled.port));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), Rig::IndicatorGreen);

    // Hours of ticks, driven as fast as the handler runs.
    const qint64 before = residentKiB();
    int ticks = 0;
    while (window.statusCaption() != Rig::SendFailedText && ticks < 2'000'000) {
        window.tickCycle().onTimer1Tick();
        if (++ticks % 64 == 0)
            QCoreApplication::processEvents();
    }
    QCOMPARE(window.statusCaption(), Rig::SendFailedText);
    QCOMPARE(window.indicatorColour(), Rig::IndicatorRed);
    const qint64 grown = residentKiB() - before;
    qInfo("recovery after %d ticks; resident memory grew by %lld KiB", ticks, grown);
    QVERIFY2(!residentMemoryIsMeaningful || grown < 8 * 1024, qPrintable(QString::number(grown)));
}

void TestFaults::floodingPeerKeepsTheRhythm()
{
    FloodPeer flood(3000);
    flood.start();
    QTRY_VERIFY(flood.port() != 0);

    Main window(fixedNoon);
    QList<qint64> tickNs;
    QElapsedTimer clock;
    clock.start();
    window.tickCycle().setSendStep([&](const QString &step) {
        tickNs << clock.nsecsElapsed();
        window.rigLink().SendStep(step);
    });
    window.controls().port->setText(QString::number(flood.port()));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), Rig::IndicatorGreen);
    const qint64 before = residentKiB();
    window.controls().Command1->click();
    QTRY_VERIFY_WITH_TIMEOUT(flood.isFinished(), 10'000);
    QTest::qWait(300);
    window.controls().Command1->click();

    QVERIFY(tickNs.size() >= 25);
    qint64 worstMs = 0;
    for (qsizetype i = 1; i < tickNs.size(); ++i)
        worstMs = std::max(worstMs, (tickNs[i] - tickNs[i - 1]) / 1'000'000 - 100);
    const qint64 grown = residentKiB() - before;
    qInfo("%lld MiB of replies; %lld ticks, the latest %lld ms late; memory grew %lld KiB",
          flood.sent() >> 20, qint64(tickNs.size()), worstMs, grown);
    QVERIFY(flood.sent() > 1 << 20);
    QVERIFY2(worstMs <= 20, qPrintable(QString::number(worstMs)));
    QVERIFY2(!residentMemoryIsMeaningful || grown < 32 * 1024, qPrintable(QString::number(grown)));
    QVERIFY(window.statusCaption().startsWith(Rig::ReplyPrefix)
            || window.statusCaption() == Rig::SendFailedText);
}

void TestFaults::connectDisconnectCycles()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    Main window(fixedNoon);
    window.controls().port->setText(QString::number(peer.port()));
    const auto cycle = [&] {
        window.controls().connect->click();
        if (!QTest::qWaitFor([&] { return window.Winsock().isConnected(); }, 5000))
            return false;
        window.controls().disconnect->click();
        QCoreApplication::processEvents();
        return true;
    };
    for (int i = 0; i < 200; ++i)
        QVERIFY(cycle());
    QTRY_COMPARE(peer.open(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int fdsBefore = openFileDescriptors();
    const qint64 rssBefore = residentKiB();

    const int cycles = 10'000 * soakFactor();
    for (int i = 0; i < cycles; ++i)
        QVERIFY(cycle());
    QTRY_COMPARE(peer.open(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int fdsAfter = openFileDescriptors();
    const qint64 grown = residentKiB() - rssBefore;
    qInfo("%d cycles: %d -> %d descriptors, resident memory grew %lld KiB",
          cycles, fdsBefore, fdsAfter, grown);
    QCOMPARE(fdsAfter, fdsBefore);
    QVERIFY2(!residentMemoryIsMeaningful || grown < 4 * 1024, qPrintable(QString::number(grown)));
    QCOMPARE(window.statusCaption(), Rig::DisconnectedText);
}

namespace {

QStringList hostileTexts()
{
    return {QString(),
            QStringLiteral("   "),
            QString(10'000, u'7'),
            QString(10'000, u'x'),
            QStringLiteral("3\u00000\u00010"),
            QStringLiteral("\t\r\n"),
            QStringLiteral("\u0663\u0660\u0660"), // Arabic-Indic 300
            QStringLiteral("\uff13\uff10\uff10"), // full-width 300
            QStringLiteral("1e400"),
            QStringLiteral("-1e400"),
            QStringLiteral("nan"),
            QStringLiteral("inf"),
            QStringLiteral("-inf"),
            QStringLiteral("-0"),
            QStringLiteral("1,200"),
            QStringLiteral("1.200,5"),
            QStringLiteral("1\u00a0200"),
            QStringLiteral("0x12C"),
            QStringLiteral("2147483648"),
            QStringLiteral("-2147483649"),
            QStringLiteral("\U0001F4FB")};
}

} // namespace

void TestFaults::hostileSettings_data()
{
    QTest::addColumn<bool>("period");
    QTest::addColumn<QString>("text");
    int i = 0;
    for (const QString &text : hostileTexts()) {
        QTest::addRow("period %d", i) << true << text;
        QTest::addRow("chirptime %d", i++) << false << text;
    }
}

void TestFaults::hostileSettings()
{
    QFETCH(bool, period);
    QFETCH(QString, text);

    Station rig;
    QVERIFY(rig.peer.listen());
    QVERIFY(rig.connectTo(rig.peer.port()));
    if (period)
        rig.window.controls().Combo_period->setEditText(text);
    else
        rig.window.controls().chirptime->setText(text);
    rig.window.controls().Command1->click();
    QTest::qWait(350);

    if (rig.window.isTimer1Enabled()) {
        // Usable after all: every line sent is a well-formed step.
        QVERIFY(!rig.peer.lines().isEmpty());
        for (const QByteArray &line : rig.peer.lines()) {
            QVERIFY2(line.size() == 26 || line.size() == 27, line.constData());
            const int hz = line.mid(17, line.size() - 19).toInt();
            QVERIFY(hz >= 2'000'000 && hz <= 30'000'000 && hz % 100'000 == 0);
        }
        QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Stop"));
    } else {
        QCOMPARE(rig.peer.received(), QByteArray());
        QCOMPARE(rig.window.controls().Command1->text(), QStringLiteral("Start"));
        QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("Stopped"));
        const QString status = rig.window.statusCaption();
        QVERIFY2(status.startsWith(period ? u"Period " : u"Chirptime ")
                     || status.startsWith(u"Period "),
                 qPrintable(status));
        QVERIFY(status.size() < 120);
    }
}

void TestFaults::hostileLinkFields_data()
{
    QTest::addColumn<bool>("host");
    QTest::addColumn<QString>("text");
    int i = 0;
    for (const QString &text : hostileTexts()) {
        QTest::addRow("host %d", i) << true << text;
        QTest::addRow("port %d", i++) << false << text;
    }
}

void TestFaults::hostileLinkFields()
{
    QFETCH(bool, host);
    QFETCH(QString, text);

    Main window(fixedNoon);
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    window.controls().port->setText(QString::number(peer.port()));
    (host ? window.controls().host : window.controls().port)->setText(text);
    window.controls().connect->click();
    QTest::qWait(200);
    // Either a plain refusal in the status line, or an attempt that shows nothing yet, or
    // (a hostile host that still names this machine) a connection.
    const QString status = window.statusCaption();
    QVERIFY2(status == u"Status" || status.startsWith(u"Cannot connect: ")
                 || status.startsWith(Rig::ConnectedPrefix),
             qPrintable(status.left(200)));
    QVERIFY(status.size() < 200 || status.startsWith(Rig::ConnectedPrefix));
    window.controls().Command1->click();
    QTest::qWait(250);
    QVERIFY(window.statusCaption() == Rig::SendFailedText
            || window.indicatorColour() == Rig::IndicatorGreen);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
