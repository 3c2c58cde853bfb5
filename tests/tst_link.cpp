// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fixtures.h"
#include "hrdtext.h"
#include "protocol.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace Rig;
using Peer::Behaviour;
using Peer::RigPeer;

namespace {

// Points the client at 127.0.0.1 (or host) and port, connects, and waits until it is.
bool connectClient(RigClient &client,
                   quint16 port,
                   const QString &host = QStringLiteral("127.0.0.1"))
{
    client.setRemoteHost(host);
    client.setRemotePort(port);
    QSignalSpy connected(&client, &RigClient::connected);
    return client.Connect() && connected.wait();
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestEnvironment(); }

    void commandLine_data();
    void commandLine();
    void portFromText_data();
    void portFromText();
    void connectProblem_data();
    void connectProblem();
    void replyDecoder_data();
    void replyDecoder();

    void closeNeverFails();
    void sendFailsUnlessConnected();
    void sendReachesPeer();
    void sendFailsAfterPeerEnds_data();
    void sendFailsAfterPeerEnds();
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
    QTest::addColumn<qint32>("stepHz");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("9.9 MHz") << 9'900'000 << QByteArray("set frequency-hz 9900000\r\n");
    QTest::newRow("10 MHz") << 10'000'000 << QByteArray("set frequency-hz 10000000\r\n");
    QTest::newRow("21.9 MHz") << 21'900'000 << QByteArray("set frequency-hz 21900000\r\n");
}

void TestLink::commandLine()
{
    QFETCH(qint32, stepHz);
    QFETCH(QByteArray, line);
    QCOMPARE(CommandLine(stepHz), line);
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
    QTest::addColumn<std::optional<qint32>>("port");
    QTest::addColumn<QString>("caption"); // in the status line; empty: the attempt is made
    QTest::addColumn<QString>("whole");   // in its tooltip, where the row gives it

    const auto row = [](const char *name,
                        const QByteArray &host,
                        const char *text,
                        std::optional<qint32> port,
                        const char *caption,
                        const char *whole = "") {
        QTest::newRow(name) << QString::fromUtf8(host) << QString::fromUtf8(text) << port
                            << QString::fromUtf8(caption) << QString::fromUtf8(whole);
    };
    row("fine", "127.0.0.1", "7809", 7809, "");
    row("host with blanks is fine", " localhost ", "1", 1, "");
    row("name with hyphens and digits", "shack-pc2.example.org.", "1", 1, "");
    row("name that is a word", "nan", "1", 1, "");
    row("highest port", "127.0.0.1", "65535", 65535, "");
    row("empty host", "", "7809", 7809, "Cannot connect: the host is empty.");
    row("blank host", " \t ", "7809", 7809, "Cannot connect: the host is empty.");
    row("port 0", "127.0.0.1", "abc", 0, "Cannot connect: port 0 is not 1 to 65535.");
    row("port 65536", "127.0.0.1", "65536", 65536, "Cannot connect: port 65536 is not 1 to 65535.");
    row("negative port",
        "127.0.0.1",
        "-7809",
        -7809,
        "Cannot connect: port -7809 is not 1 to 65535.");
    row("port beyond 32 bits",
        "127.0.0.1",
        "99999999999",
        std::nullopt,
        "Cannot connect: the port is too large.",
        "Cannot connect: port \"99999999999\" is too large.");
    row("long text is cut",
        "127.0.0.1",
        "9999999999999999999999999999999",
        std::nullopt,
        "Cannot connect: the port is too large.",
        "Cannot connect: port \"999999999999999999999999\u2026\" is too large.");

    // A host is an address, or a name whose ASCII form is at most 253 characters of labels
    // of 1 to 63 letters, digits and inner hyphens, the last label not all digits.
    const char *notHost = "Cannot connect: not a valid host name or address.";
    const QByteArray label63(63, 'a');
    const QByteArray name253 = label63 + '.' + label63 + '.' + label63 + '.' + QByteArray(61, 'b');
    row("IPv6 address", "::1", "7809", 7809, "");
    row("name with a hyphen", "rig-pc.example", "7809", 7809, "");
    row("name with a letter outside ASCII", "b\u00fccher.example", "7809", 7809, "");
    row("label of 63", label63 + ".example", "7809", 7809, "");
    row("label of 64",
        label63 + "a.example",
        "7809",
        7809,
        notHost,
        "Cannot connect: \"aaaaaaaaaaaaaaaaaaaaaaaa\u2026\" is not a valid host name or address.");
    row("name of 253", name253, "7809", 7809, "");
    row("name of 254", name253 + 'b', "7809", 7809, notHost);
    row("blank inside",
        "radio pc",
        "1",
        1,
        notHost,
        "Cannot connect: \"radio pc\" is not a valid host name or address.");
    row("label begins with a hyphen", "-rig.example", "7809", 7809, notHost);
    row("label ends with a hyphen", "rig-.example", "7809", 7809, notHost);
    row("empty label", "rig..example", "7809", 7809, notHost);
    row("underscore", "rig_pc", "7809", 7809, notHost);
    row("comma", "1,200", "1", 1, notHost);
    row("last label all digits", "rig.300", "7809", 7809, notHost);
    row("all digits, read as a number", "2147483648", "1", 1, notHost);
    row("not a dotted quad",
        "127.1",
        "7809",
        7809,
        notHost,
        "Cannot connect: \"127.1\" is not a valid host name or address.");
}

void TestLink::connectProblem()
{
    QFETCH(QString, host);
    QFETCH(QString, portText);
    QFETCH(std::optional<qint32>, port);
    QFETCH(QString, caption);
    QFETCH(QString, whole);
    const std::optional<StatusText> problem = ConnectProblem(host, portText, port);
    QCOMPARE(problem.has_value(), !caption.isEmpty());
    if (problem) {
        QCOMPARE(problem->caption, caption);
        if (!whole.isEmpty())
            QCOMPARE(problem->whole, whole);
    }
}

void TestLink::replyDecoder_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QString>("text"); // both pieces' texts together

    // Each byte that is not part of a whole UTF-8 sequence shows as one U+FFFD; a sequence
    // cut at the end of a piece waits for the next.
    const auto row = [](const char *name,
                        const QByteArray &first,
                        const QByteArray &second,
                        const QString &text) {
        QTest::newRow(name) << first << second << text;
    };
    row("line ends kept", "OK\r\n", {}, QStringLiteral("OK\r\n"));
    row("utf-8", "\xc3\xa9t\xc3\xa9", {}, QStringLiteral("\u00e9t\u00e9"));
    row("invalid bytes", QByteArray("A\xff\xfe") + 'B', {}, QStringLiteral("A\uFFFD\uFFFDB"));
    row("NUL kept", QByteArray("A\0B", 3), {}, QString(QStringLiteral("A") + QChar(0) + u'B'));
    row("cut sequence before ASCII", "\xe2\x82OK", {}, QStringLiteral("\uFFFD\uFFFDOK"));
    row("lone continuation byte", QByteArray("\x80") + 'A', {}, QStringLiteral("\uFFFDA"));
    row("cut sequence held back", "\xe2\x82", {}, QString());
    row("two-byte character cut", "caf\xc3", "\xa9!", QStringLiteral("caf\u00e9!"));
    row("four-byte character cut", "\xf0\x9f", "\x93\xbb", QStringLiteral("\U0001F4FB"));
    row("cut sequence never completed", "\xe2\x82", ".", QStringLiteral("\uFFFD\uFFFD."));
    row("invalid byte at the end", "A\xff", "B", QStringLiteral("A\uFFFDB"));
}

void TestLink::replyDecoder()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QString, text);
    ReplyDecoder decoder;
    const QString head = decoder.decode(first);
    QCOMPARE(head + decoder.decode(second), text);
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
    RigPeer peer(Peer::Dialect::HrdText, Behaviour::Silent);
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
    RigPeer peer(Peer::Dialect::HrdText, Behaviour::Silent);
    QVERIFY(peer.listen());
    RigClient client;
    QVERIFY(connectClient(
        client, peer.port(), QStringLiteral("localhost"))); // a name, looked up without blocking
    for (const qint32 hz : {9'900'000, 10'000'000})
        QCOMPARE(client.SendData(CommandLine(hz)), RigClient::SendResult::Sent);
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
    if (reset && runningUnderWine())
        QSKIP("Wine does not tell a Windows socket that its peer reset the connection");
    RigPeer peer(Peer::Dialect::HrdText, Behaviour::Silent);
    QVERIFY(peer.listen());
    RigClient client;
    QVERIFY(connectClient(client, peer.port()));
    QTRY_COMPARE(peer.open(), 1);

    if (reset)
        peer.resetAll();
    else
        peer.closeAll();
    // The client learns of it by itself and counts as not connected from then on.
    QTRY_VERIFY(!client.isConnected());
    QCOMPARE(client.SendData("x"), RigClient::SendResult::NotConnected);
}

void TestLink::noSignalAfterClose()
{
    RigPeer peer(Peer::Dialect::HrdText, Behaviour::Silent);
    QVERIFY(peer.listen());
    RigClient client;
    QVERIFY(connectClient(client, peer.port()));
    QSignalSpy connected(&client, &RigClient::connected);
    QSignalSpy arrived(&client, &RigClient::dataArrived);
    QSignalSpy errors(&client, &RigClient::errorOccurred);
    QTRY_COMPARE(peer.open(), 1);

    peer.send("late reply\r\n");
    client.Close();
    peer.closeAll();
    // The peer sees the end of the connection after everything the client could have read.
    QTRY_COMPARE(peer.open(), 0);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(arrived.count(), 0);
    QCOMPARE(errors.count(), 0);

    // A pending attempt abandoned by Close never reports success: the next connection is the
    // only one that does.
    client.Connect();
    client.Close();
    QVERIFY(client.Connect());
    QVERIFY(connected.wait());
    QTRY_VERIFY(peer.open() >= 1);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(connected.count(), 1);
}

void TestLink::stalledPeerHitsTheCap()
{
    RigPeer stalled(Peer::Dialect::HrdText, Behaviour::Stall);
    QVERIFY(stalled.listen());
    RigClient client;
    QVERIFY(connectClient(client, stalled.port()));

    // The kernel's buffers take the first megabytes; then the client's own buffer fills,
    // up to 32 KiB.
    const qint64 capBytes = 32 * 1024;
    const QByteArray line = CommandLine(21'900'000);
    RigClient::SendResult result = RigClient::SendResult::Sent;
    qint64 sent = 0;
    for (int i = 0; i < 2'000'000 && result == RigClient::SendResult::Sent; ++i) {
        result = client.SendData(line);
        sent += line.size();
        if (i % 64 == 0)
            QCoreApplication::processEvents();
        QVERIFY(client.unsentBytes() <= capBytes);
    }
    QCOMPARE(result, RigClient::SendResult::Backlogged);
    QVERIFY(client.unsentBytes() > capBytes - line.size());
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
        {"start-up", Red, QStringLiteral("Status")},
        {"connected", Green, QStringLiteral("<connected>")},
        {"receiving", Green, Sending + QStringLiteral("OK\r\n")},
        {"disconnected", Red, QStringLiteral("Disconnected")},
        {"send failed", Red, ReadyToConnect},
    };
    for (const auto &[from, colour, status] : froms) {
        const QString name = QString::fromLatin1(from);
        QTest::addRow("%s, connect", from) << name << "connect" << colour << status;
        QTest::addRow("%s, connected", from)
            << name << "connected" << Green << QStringLiteral("<connected>");
        QTest::addRow("%s, disconnect", from)
            << name << "disconnect" << Red << QStringLiteral("Disconnected");
        QTest::addRow("%s, failed send", from) << name << "failed send" << Red << ReadyToConnect;
    }
    for (const char *from : {"connected", "receiving"}) {
        QTest::addRow("%s, data arrived", from) << QString::fromLatin1(from) << "data arrived"
                                                << Green << Sending + QStringLiteral("A\r\n");
    }
}

void TestLink::states()
{
    QFETCH(QString, from);
    QFETCH(QString, event);
    QFETCH(qint32, colour);
    QFETCH(QString, status);

    LinkRig rig;
    status.replace(QStringLiteral("<connected>"),
                   QStringLiteral("Succeeded connection to: 127.0.0.1:%1").arg(rig.peer.port()));

    if (from == u"connected" || from == u"receiving")
        QVERIFY(rig.connect());
    if (from == u"receiving") {
        rig.peer.send("OK\r\n");
        QTRY_COMPARE(rig.controls.status, Sending + QStringLiteral("OK\r\n"));
    } else if (from == u"disconnected") {
        rig.link.onDisconnectClicked();
    } else if (from == u"send failed") {
        rig.link.SendStep(21'900'000);
    }

    if (event == u"connect") {
        rig.link.onConnectClicked();
    } else if (event == u"connected") {
        rig.peer.closeAll();
        QVERIFY(rig.connect());
    } else if (event == u"disconnect") {
        rig.link.onDisconnectClicked();
        QTRY_COMPARE(rig.peer.open(), 0);
    } else if (event == u"failed send") {
        rig.peer.closeAll();
        QTRY_VERIFY(!rig.client.isConnected());
        rig.link.SendStep(21'900'000);
    } else if (event == u"data arrived") {
        rig.peer.send("A\r\n");
        QTRY_VERIFY(rig.controls.status.endsWith(u"A\r\n"));
    }
    QCOMPARE(rig.controls.colour, colour);
    QCOMPARE(rig.controls.status, status);
    if (event == u"failed send" || event == u"disconnect")
        QVERIFY(!rig.client.isConnected());
}

void TestLink::connectedTextShowsTheRoundedPort()
{
    // An even port p is reached from "p-1.5", which rounds half to even. Port 0 gives odd
    // ports on Linux, and connections take the even ones of the ephemeral range, so the
    // peer tries even ports below that range until one is free.
    RigPeer peer(Peer::Dialect::HrdText, Behaviour::Silent);
    for (int i = 0; i < 200 && peer.port() == 0; ++i)
        peer.listen(quint16(20'000 + 2 * QRandomGenerator::global()->bounded(5'000)));
    QVERIFY(peer.port() != 0);
    QCOMPARE(peer.port() % 2, 0);
    FakeLinkControls controls;
    controls.port = QString::number(peer.port() - 1) + QStringLiteral(".5 and more");
    RigClient client;
    RigLink link(controls, client);
    link.onConnectClicked();
    QTRY_COMPARE(controls.colour, Green);
    QCOMPARE(controls.status,
             QStringLiteral("Succeeded connection to: 127.0.0.1:") + QString::number(peer.port()));
}

void TestLink::hostIsGivenWithItsBlanks()
{
    LinkRig rig;
    rig.controls.host = QStringLiteral(" 127.0.0.1 ");
    rig.link.onConnectClicked();
    QCOMPARE(rig.client.remoteHost(), QStringLiteral(" 127.0.0.1 "));
    QTRY_COMPARE(rig.controls.colour, Green);
    QCOMPARE(rig.controls.status,
             QStringLiteral("Succeeded connection to:  127.0.0.1 :")
                 + QString::number(rig.peer.port()));
}

void TestLink::unusableTargetIsNotAttempted_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("status");

    // Each text of ConnectProblem's: one with a port, one without.
    QTest::newRow("empty host") << ""
                                << "<port>"
                                << "Cannot connect: the host is empty.";
    QTest::newRow("port beyond 32 bits") << "127.0.0.1"
                                         << "99999999999"
                                         << "Cannot connect: the port is too large.";
}

void TestLink::unusableTargetIsNotAttempted()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, status);

    LinkRig rig;
    const QString goodPort = rig.controls.port;
    QVERIFY(rig.connect());

    rig.controls.host = host;
    rig.controls.port = port.replace(QStringLiteral("<port>"), goodPort);
    rig.link.onConnectClicked();
    // The old connection is closed and no new attempt made.
    QCOMPARE(rig.controls.status, status);
    QCOMPARE(rig.controls.colour, Red);
    QTRY_COMPARE(rig.peer.open(), 0);

    // The next good attempt is the second connection the peer ever accepts.
    rig.controls.host = QStringLiteral("127.0.0.1");
    rig.controls.port = goodPort;
    QVERIFY(rig.connect());
    QCOMPARE(rig.peer.accepted(), 2);
}

void TestLink::repliesShownAsReceived()
{
    LinkRig rig;
    QVERIFY(rig.connect());

    // Two replies that arrive before the client reads are shown together after one prefix:
    // written at once, they reach the client in one read.
    rig.peer.send("OK\r\nOK\r\n");
    QTRY_COMPARE(rig.controls.status, Sending + QStringLiteral("OK\r\nOK\r\n"));

    // A character whose bytes come in two reads shows whole when its last byte comes.
    rig.peer.send("caf\xc3");
    QTRY_COMPARE(rig.controls.status, Sending + QStringLiteral("caf"));
    rig.peer.send("\xa9!");
    QTRY_COMPARE(rig.controls.status, Sending + QStringLiteral("\u00e9!"));

    rig.peer.send(QByteArray("\xff\x00\x01 bin\r\n", 9));
    QTRY_COMPARE(rig.controls.status,
                 Sending + QString(QChar::ReplacementCharacter) + QChar(0) + QChar(1)
                     + QStringLiteral(" bin\r\n"));
    QCOMPARE(rig.controls.colour, Green);
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
