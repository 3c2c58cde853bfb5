#include "fakelinkcontrols.h"
#include "loopbackpeer.h"
#include "protocol.h"
#include "riglink.h"

#include <QSignalSpy>
#include <QTest>


using namespace Rig;

namespace {


} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void portFromText_data();
    void portFromText();
    void connectProblem_data();
    void connectProblem();
    void decodeReply_data();
    void decodeReply();

    void closeNeverFails();
    void sendFailsUnlessConnected();
    void sendReachesPeer();
    void sendFailsAfterPeerEnds_data();
    void sendFailsAfterPeerEnds();
    void refusedAttemptReportsError();
    void noSignalAfterClose();
    void stalledPeerHitsTheCap();

    void states_data();
    void states();
    void connectedTextShowsTheRoundedPort();
    void hostIsGivenWithItsBlanks();
    void unusableTargetIsNotAttempted_data();
    void unusableTargetIsNotAttempted();
    void repliesShownAsReceived();
};

void TestLink::commandLine_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("9.9 MHz, 26 bytes") << "9900000" << QByteArray("set frequency-hz 9900000\r\n");
    QTest::newRow("10 MHz, 27 bytes") << "10000000" << QByteArray("set frequency-hz 10000000\r\n");
    QTest::newRow("21.9 MHz") << "21900000" << QByteArray("set frequency-hz 21900000\r\n");
}

void TestLink::commandLine()
{
    QFETCH(QString, step);
    QFETCH(QByteArray, line);
    QCOMPARE(CommandLine(step), line);
    QCOMPARE(CommandLine(step).size(), 17 + step.size() + 2);
}

void TestLink::portFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<qint32>>("port");

    const auto row = [](const char *name, const QString &text, std::optional<qint32> port) {
        QTest::newRow(name) << text << port;
    };
    row("plain", "7809", 7809);
    row("half rounds to even, up", "7809.5", 7810);
    row("half rounds to even, down", "7808.5", 7808);
    row("comma ends the number", "7,809", 7);
    row("letters end the number", "7809abc", 7809);
    row("blank inside", "78 09", 7809);
    row("blanks around", "  7809  ", 7809);
    row("tab and line feed skipped", "\t78\n09", 7809);
    row("letters", "abc", 0);
    row("empty", "", 0);
    row("sign only", "-", 0);
    row("negative", "-5", -5);
    row("plus sign", "+80", 80);
    row("second sign ends", "+-80", 0);
    row("point first", ".5", 0);
    row("one and a half", "1.5", 2);
    row("trailing point", "7809.", 7809);
    row("second point ends", "7809.5.5", 7810);
    row("hexadecimal prefix not read", "0x1F", 0);
    row("exponent not read", "1e3", 1);
    row("carriage return ends", "78\r09", 78);
    row("largest 32-bit", "2147483647", 2147483647);
    row("smallest 32-bit", "-2147483648", std::numeric_limits<qint32>::min());
    row("just beyond 32 bits", "2147483648", std::nullopt);
    row("beyond 32 bits after rounding", "2147483647.5", std::nullopt);
    row("many digits", QString(400, u'9'), std::nullopt);
    row("arabic digits not read", QStringLiteral("\u0667\u0668"), 0);
}

void TestLink::portFromText()
{
    QFETCH(QString, text);
    QFETCH(std::optional<qint32>, port);
    QCOMPARE(PortFromText(text), port);
}

void TestLink::connectProblem_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("problem");

    QTest::newRow("fine") << "127.0.0.1" << "7809" << "";
    QTest::newRow("host with blanks is fine") << " localhost " << "1" << "";
    QTest::newRow("empty host") << "" << "7809" << "Cannot connect: the host is empty.";
    QTest::newRow("blank host") << "   " << "7809" << "Cannot connect: the host is empty.";
    QTest::newRow("port 0") << "127.0.0.1" << "abc"
                            << "Cannot connect: port 0 is not between 1 and 65535.";
    QTest::newRow("port 65536") << "127.0.0.1" << "65536"
                                << "Cannot connect: port 65536 is not between 1 and 65535.";
    QTest::newRow("negative port") << "127.0.0.1" << "-7809"
                                   << "Cannot connect: port -7809 is not between 1 and 65535.";
    QTest::newRow("port beyond 32 bits") << "127.0.0.1" << "99999999999"
                                         << "Cannot connect: port \"99999999999\" is too large.";
}

void TestLink::connectProblem()
{
    QFETCH(QString, host);
    QFETCH(QString, portText);
    QFETCH(QString, problem);
    QCOMPARE(ConnectProblem(host, portText, PortFromText(portText)).value_or(QString()), problem);
}

void TestLink::decodeReply_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("line ends kept") << QByteArray("OK\r\n") << "OK\r\n";
    QTest::newRow("utf-8") << QByteArray("\xc3\xa9t\xc3\xa9") << QStringLiteral("\u00e9t\u00e9");
    QTest::newRow("invalid bytes replaced") << QByteArray("A\xff\xfe" "B")
                                            << QStringLiteral("A\uFFFD\uFFFDB");
    QTest::newRow("NUL kept") << QByteArray("A\0B", 3) << QString(QStringLiteral("A") + QChar(0) + u'B');
    QTest::newRow("cut multi-byte sequence") << QByteArray("\xe2\x82") << QStringLiteral("\uFFFD");
}

void TestLink::decodeReply()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const QString decoded = DecodeReply(bytes);
    QVERIFY(!decoded.isEmpty());
    QCOMPARE(decoded.contains(QChar::ReplacementCharacter), text.contains(QChar::ReplacementCharacter));
    if (!text.contains(QChar::ReplacementCharacter))
        QCOMPARE(decoded, text);
}

void TestLink::closeNeverFails()
{
    RigClient client;
    client.Close();
    client.Close();
    QVERIFY(!client.isConnected());
    QCOMPARE(client.GetData(), QByteArray());
}

void TestLink::sendFailsUnlessConnected()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    RigClient client;
    QCOMPARE(client.SendData("x"), RigClient::SendResult::NotConnected); // never opened

    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(peer.port());
    QSignalSpy connected(&client, &RigClient::connected);
    QVERIFY(client.Connect());
    // Still connecting: a plain QTcpSocket would buffer this and send it later.
    QCOMPARE(client.SendData("early\r\n"), RigClient::SendResult::NotConnected);
    QVERIFY(connected.wait());
    QCOMPARE(client.SendData("late\r\n"), RigClient::SendResult::Sent);
    QTRY_COMPARE(peer.received(), QByteArray("late\r\n"));

    client.Close();
    QCOMPARE(client.SendData("x"), RigClient::SendResult::NotConnected);
}

void TestLink::sendReachesPeer()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    RigClient client;
    client.setRemoteHost(QStringLiteral("localhost")); // a name, resolved without blocking
    client.setRemotePort(peer.port());
    QSignalSpy connected(&client, &RigClient::connected);
    client.Connect();
    QVERIFY(connected.wait());
    for (const char *step : {"9900000", "10000000"})
        QCOMPARE(client.SendData(CommandLine(QString::fromLatin1(step))), RigClient::SendResult::Sent);
    QTRY_COMPARE(peer.received(),
                 QByteArray("set frequency-hz 9900000\r\nset frequency-hz 10000000\r\n"));
}

void TestLink::sendFailsAfterPeerEnds_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("peer closes") << false;
    QTest::newRow("peer resets") << true;
}

void TestLink::sendFailsAfterPeerEnds()
{
    QFETCH(bool, reset);
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    RigClient client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(peer.port());
    QSignalSpy connected(&client, &RigClient::connected);
    client.Connect();
    QVERIFY(connected.wait());
    QTRY_COMPARE(peer.open(), 1);

    if (reset)
        peer.resetAll();
    else
        peer.closeAll();
    // The client learns of it by itself and counts as not connected from then on.
    QTRY_VERIFY(!client.isConnected());
    QCOMPARE(client.SendData("x"), RigClient::SendResult::NotConnected);
}

void TestLink::refusedAttemptReportsError()
{
    RigClient client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(closedPort());
    QSignalSpy errors(&client, &RigClient::errorOccurred);
    QSignalSpy connected(&client, &RigClient::connected);
    client.Connect();
    QVERIFY(errors.wait());
    QVERIFY(!errors.first().first().toString().isEmpty());
    QCOMPARE(connected.count(), 0);
    QCOMPARE(client.SendData("x"), RigClient::SendResult::NotConnected);
}

void TestLink::noSignalAfterClose()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    RigClient client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(peer.port());
    QSignalSpy connected(&client, &RigClient::connected);
    QSignalSpy arrived(&client, &RigClient::dataArrived);
    QSignalSpy errors(&client, &RigClient::errorOccurred);
    client.Connect();
    QVERIFY(connected.wait());
    QTRY_COMPARE(peer.open(), 1);

    peer.reply("late reply\r\n");
    client.Close();
    peer.closeAll();
    QTest::qWait(200);
    QCOMPARE(arrived.count(), 0);
    QCOMPARE(errors.count(), 0);

    // A pending attempt abandoned by Close never reports success.
    client.Connect();
    client.Close();
    QTest::qWait(200);
    QCOMPARE(connected.count(), 1);
}

void TestLink::stalledPeerHitsTheCap()
{
    StalledListener listener;
    RigClient client;
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(listener.port);
    QSignalSpy connected(&client, &RigClient::connected);
    client.Connect();
    QVERIFY(connected.wait());

    // The kernel's buffers take the first megabytes; then the client's own buffer fills.
    const QByteArray line = CommandLine(QStringLiteral("21900000"));
    RigClient::SendResult result = RigClient::SendResult::Sent;
    qint64 sent = 0;
    for (int i = 0; i < 2'000'000 && result == RigClient::SendResult::Sent; ++i) {
        result = client.SendData(line);
        sent += line.size();
        if (i % 64 == 0)
            QCoreApplication::processEvents();
        QVERIFY(client.unsentBytes() <= RigClient::MaxUnsentBytes);
    }
    QCOMPARE(result, RigClient::SendResult::Backlogged);
    QVERIFY(client.unsentBytes() > RigClient::MaxUnsentBytes - line.size());
    qInfo("cap reached after %lld bytes, %lld of them unsent", sent, client.unsentBytes());
}

void TestLink::states_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("event");
    QTest::addColumn<qint32>("colour");
    QTest::addColumn<QString>("status");

    // "connect" shows nothing new: the state before it stays.
    const QList<std::tuple<const char *, qint32, QString>> froms{
        {"start-up", IndicatorRed, QStringLiteral("Status")},
        {"connected", IndicatorGreen, QStringLiteral("<connected>")},
        {"receiving", IndicatorGreen, ReplyPrefix + QStringLiteral("OK\r\n")},
        {"disconnected", IndicatorRed, DisconnectedText},
        {"send failed", IndicatorRed, SendFailedText},
    };
    for (const auto &[from, colour, status] : froms) {
        const QString name = QString::fromLatin1(from);
        QTest::addRow("%s, connect", from) << name << "connect" << colour << status;
        QTest::addRow("%s, connected", from)
            << name << "connected" << IndicatorGreen << QStringLiteral("<connected>");
        QTest::addRow("%s, disconnect", from) << name << "disconnect" << IndicatorRed << DisconnectedText;
        QTest::addRow("%s, failed send", from) << name << "failed send" << IndicatorRed << SendFailedText;
    }
    for (const char *from : {"connected", "receiving"}) {
        QTest::addRow("%s, data arrived", from) << QString::fromLatin1(from) << "data arrived"
                                                << IndicatorGreen
                                                << ReplyPrefix + QStringLiteral("A\r\n");
    }
}

void TestLink::states()
{
    QFETCH(QString, from);
    QFETCH(QString, event);
    QFETCH(qint32, colour);
    QFETCH(QString, status);

    LoopbackPeer peer;
    QVERIFY(peer.listen());
    FakeLinkControls controls;
    controls.port = QString::number(peer.port());
    RigClient client;
    RigLink link(controls, client);
    status.replace(QStringLiteral("<connected>"), ConnectedText(controls.host, peer.port()));

    const auto connectAndWait = [&] {
        link.onConnectClicked();
        QTRY_COMPARE(controls.colour, IndicatorGreen);
        QTRY_COMPARE(peer.open(), 1);
    };
    const auto dropAndFailSend = [&] {
        peer.closeAll();
        QTRY_VERIFY(!client.isConnected());
        link.SendStep(QStringLiteral("21900000"));
    };

    if (from == u"connected" || from == u"receiving")
        connectAndWait();
    if (from == u"receiving") {
        peer.reply("OK\r\n");
        QTRY_COMPARE(controls.status, ReplyPrefix + QStringLiteral("OK\r\n"));
    } else if (from == u"disconnected") {
        link.onDisconnectClicked();
    } else if (from == u"send failed") {
        link.SendStep(QStringLiteral("21900000"));
    }

    if (event == u"connect") {
        link.onConnectClicked();
    } else if (event == u"connected") {
        peer.closeAll();
        connectAndWait();
    } else if (event == u"disconnect") {
        link.onDisconnectClicked();
        QTRY_COMPARE(peer.open(), 0);
    } else if (event == u"failed send") {
        dropAndFailSend();
    } else if (event == u"data arrived") {
        peer.reply("A\r\n");
        QTRY_VERIFY(controls.status.endsWith(u"A\r\n"));
    }
    QCOMPARE(controls.colour, colour);
    QCOMPARE(controls.status, status);
    if (event == u"failed send" || event == u"disconnect")
        QVERIFY(!client.isConnected());
}

void TestLink::connectedTextShowsTheRoundedPort()
{
    // An even port p is reached from "p-1.5", which rounds half to even.
    std::unique_ptr<LoopbackPeer> even;
    for (int i = 0; i < 50 && !even; ++i) {
        auto peer = std::make_unique<LoopbackPeer>();
        const quint16 free = closedPort();
        if (peer->listen(free % 2 == 0 ? free : free + 1))
            even = std::move(peer);
    }
    QVERIFY(even);
    LoopbackPeer &peer = *even;
    FakeLinkControls controls;
    controls.port = QString::number(peer.port() - 1) + QStringLiteral(".5 and more");
    RigClient client;
    RigLink link(controls, client);
    link.onConnectClicked();
    QTRY_COMPARE(controls.colour, IndicatorGreen);
    QCOMPARE(controls.status, QStringLiteral("Succeeded connection to: 127.0.0.1:") + QString::number(peer.port()));
}

void TestLink::hostIsGivenWithItsBlanks()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    FakeLinkControls controls;
    controls.host = QStringLiteral(" 127.0.0.1 ");
    controls.port = QString::number(peer.port());
    RigClient client;
    RigLink link(controls, client);
    link.onConnectClicked();
    QCOMPARE(client.remoteHost(), QStringLiteral(" 127.0.0.1 "));
    QTRY_COMPARE(controls.colour, IndicatorGreen);
    QCOMPARE(controls.status,
             QStringLiteral("Succeeded connection to:  127.0.0.1 :") + QString::number(peer.port()));
}

void TestLink::unusableTargetIsNotAttempted_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("status");

    QTest::newRow("empty host") << "" << "<port>" << "Cannot connect: the host is empty.";
    QTest::newRow("port 0") << "127.0.0.1" << "" << "Cannot connect: port 0 is not between 1 and 65535.";
    QTest::newRow("port 70000") << "127.0.0.1" << "70000"
                                << "Cannot connect: port 70000 is not between 1 and 65535.";
    QTest::newRow("port beyond 32 bits") << "127.0.0.1" << "99999999999"
                                         << "Cannot connect: port \"99999999999\" is too large.";
}

void TestLink::unusableTargetIsNotAttempted()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, status);

    LoopbackPeer peer;
    QVERIFY(peer.listen());
    FakeLinkControls controls;
    controls.port = QString::number(peer.port());
    RigClient client;
    RigLink link(controls, client);
    link.onConnectClicked();
    QTRY_COMPARE(controls.colour, IndicatorGreen);

    controls.host = host;
    controls.port = port.replace(QStringLiteral("<port>"), QString::number(peer.port()));
    link.onConnectClicked();
    // The old connection is closed and no new attempt made.
    QCOMPARE(controls.status, status);
    QCOMPARE(controls.colour, IndicatorRed);
    QTRY_COMPARE(peer.open(), 0);
    QTest::qWait(100);
    QCOMPARE(peer.accepted(), 1);
}

void TestLink::repliesShownAsReceived()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    FakeLinkControls controls;
    controls.port = QString::number(peer.port());
    RigClient client;
    RigLink link(controls, client);
    link.onConnectClicked();
    QTRY_COMPARE(peer.open(), 1);
    QTRY_COMPARE(controls.colour, IndicatorGreen);

    // Two replies sent before the client reads show together after one prefix.
    peer.reply("OK\r\n");
    peer.reply("OK\r\n");
    QTest::qWait(50);
    QTRY_VERIFY(controls.status.startsWith(ReplyPrefix));
    QCOMPARE(controls.status, ReplyPrefix + QStringLiteral("OK\r\nOK\r\n"));

    peer.reply(QByteArray("\xff\x00\x01 bin\r\n", 8));
    QTRY_VERIFY(controls.status.contains(u"bin"));
    QCOMPARE(controls.status.size(), ReplyPrefix.size() + 8);
    QCOMPARE(controls.colour, IndicatorGreen);
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
