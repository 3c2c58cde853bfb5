// The rig-control programs beside HamRadioDeluxe's text lines: their wire formats, the
// paced conversation, and a real rigctld.

#include "fakelinkcontrols.h"
#include "loopbackpeer.h"
#include "mainwindow.h"
#include "protocol.h"
#include "riglink.h"
#include "rigprotocols.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

using namespace Rig;

namespace {

// The bytes of a HamRadioDeluxe frame, written out by hand: header, then each ASCII
// character as two bytes, then the two-byte NUL.
QByteArray handFrame(const char *ascii)
{
    const auto length = qsizetype(qstrlen(ascii));
    const auto size = quint8(16 + 2 * (length + 1));
    QByteArray frame("\x00\x00\x00\x00\xcd\xab\x34\x12\x34\x12\xcd\xab\x00\x00\x00\x00", 16);
    frame[0] = char(size);
    for (qsizetype i = 0; i < length; ++i)
        frame += QByteArray(1, ascii[i]) + '\0';
    return frame + QByteArray(2, '\0');
}


// A peer that speaks a paced protocol: it keeps every command and answers each as told.
class ProtocolPeer : public QObject
{
public:
    explicit ProtocolPeer(Protocol protocol)
        : m_protocol(protocol)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_socket = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_buffer += socket->readAll();
                    takeCommands(socket);
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    quint16 port() const { return m_server.serverPort(); }
    QList<QByteArray> commands;      // as they came: frame texts, lines, or XML bodies
    QList<QByteArray> rawCommands;   // the bytes of each
    QByteArray answer;               // the reply to a set; empty: no reply
    bool holdReplies = false;        // keep replies back until release()

    void release()
    {
        holdReplies = false;
        for (const QByteArray &reply : std::as_const(m_held))
            m_socket->write(reply);
        m_held.clear();
    }
    void send(const QByteArray &bytes) { m_socket->write(bytes); }

private:
    void takeCommands(QTcpSocket *socket)
    {
        for (;;) {
            QByteArray command, raw;
            if (m_protocol == Protocol::Hrd) {
                const auto frame = takeHrdFrame(m_buffer);
                if (!std::holds_alternative<QString>(frame))
                    return;
                command = std::get<QString>(frame).toUtf8();
                raw = hrdFrame(std::get<QString>(frame));
            } else {
                const qsizetype end = m_buffer.indexOf('\n');
                if (end < 0)
                    return;
                command = raw = m_buffer.left(end + 1);
                m_buffer.remove(0, end + 1);
            }
            commands << command;
            rawCommands << raw;
            QByteArray reply;
            if (command == "get context")
                reply = hrdFrame(QStringLiteral("1"));
            else if (!answer.isEmpty())
                reply = m_protocol == Protocol::Hrd ? hrdFrame(QString::fromUtf8(answer)) : answer;
            if (reply.isEmpty())
                continue;
            if (holdReplies)
                m_held << reply;
            else
                socket->write(reply);
        }
    }

    Protocol m_protocol;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_buffer;
    QList<QByteArray> m_held;
};

// flrig's side: checks each HTTP request by hand and answers as told.
class FlrigPeer : public QObject
{
public:
    enum class Answer { One, Zero, Fault, Nothing };
    Answer answer = Answer::One;
    QStringList problems; // what was wrong with a request
    QList<QByteArray> bodies;

    FlrigPeer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_buffer += socket->readAll();
                    take(socket);
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void take(QTcpSocket *socket)
    {
        const qsizetype headerEnd = m_buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = m_buffer.left(headerEnd).split('\n');
        qsizetype length = -1;
        for (const QByteArray &line : lines) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (m_buffer.size() < headerEnd + 4 + length)
            return;
        const QByteArray body = m_buffer.mid(headerEnd + 4, length);
        m_buffer.remove(0, headerEnd + 4 + length);
        if (lines.value(0).trimmed() != "POST /RPC2 HTTP/1.1")
            problems << QStringLiteral("request line ") + QString::fromLatin1(lines.value(0));
        if (length <= 0)
            problems << QStringLiteral("no Content-Length");
        if (!body.contains("<methodName>rig.set_frequency</methodName>"))
            problems << QStringLiteral("method");
        bodies << body;

        QByteArray xml;
        switch (answer) {
        case Answer::Nothing:
            return;
        case Answer::One:
        case Answer::Zero:
            xml = "<?xml version=\"1.0\"?><methodResponse><params><param><value><i4>"
                  + QByteArray(answer == Answer::One ? "1" : "0")
                  + "</i4></value></param></params></methodResponse>";
            break;
        case Answer::Fault:
            xml = "<?xml version=\"1.0\"?><methodResponse><fault><value><struct><member><name>"
                  "faultCode</name><value><int>1</int></value></member><member><name>faultString"
                  "</name><value><string>radio not connected</string></value></member></struct>"
                  "</value></fault></methodResponse>";
            break;
        }
        socket->write("HTTP/1.1 200 OK\r\nServer: test\r\nContent-Type: text/xml\r\nContent-length: "
                      + QByteArray::number(xml.size()) + "\r\n\r\n" + xml);
    }

    QTcpServer m_server;
    QByteArray m_buffer;
};

struct LinkUnderTest
{
    FakeLinkControls controls;
    RigClient client;
    RigLink link;

    LinkUnderTest(Protocol protocol, quint16 port)
        : link(controls, client, protocol)
    {
        controls.port = QString::number(port);
    }
    bool connect()
    {
        link.onConnectClicked();
        return QTest::qWaitFor([this] { return controls.colour == IndicatorGreen; });
    }
};

quint16 freePort()
{
    return closedPort();
}

} // namespace

class TestProtocols : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void options();
    void hrdFrames_data();
    void hrdFrames();
    void hrdRepliesFromTheStream();
    void hrdBadFramesDropTheLink_data();
    void hrdBadFramesDropTheLink();
    void rigctldCommandIgnoresTheLocale();
    void rigctldReplies_data();
    void rigctldReplies();
    void flrigRequest();
    void flrigReplies_data();
    void flrigReplies();

    void hrdAsksForTheContextFirst();
    void sendsOnlyWhenTheStepChanges();
    void newestStepWinsWhileOneIsInFlight();
    void refusalIsShownAndTheLinkStays();
    void silenceForTwoSecondsIsAFailedSend();
    void flrigConversation_data();
    void flrigConversation();
    void plainTextStaysAsItWas();

    void realRigctldTunesTheDummyRadio();
    void rigsimSpeaksEveryProtocol_data();
    void rigsimSpeaksEveryProtocol();
    void commandLine();
};

void TestProtocols::options()
{
    QCOMPARE(protocolFromOption(QStringLiteral("hrd-text")), Protocol::HrdText);
    QCOMPARE(protocolFromOption(QStringLiteral("hrd")), Protocol::Hrd);
    QCOMPARE(protocolFromOption(QStringLiteral("rigctld")), Protocol::Rigctld);
    QCOMPARE(protocolFromOption(QStringLiteral("flrig")), Protocol::Flrig);
    QCOMPARE(protocolFromOption(QStringLiteral("HRD")), std::nullopt);
    QCOMPARE(defaultPort(Protocol::Rigctld), 4532);
    QCOMPARE(defaultPort(Protocol::Flrig), 12345);
    QCOMPARE(defaultPort(Protocol::Hrd), 7809);
    QCOMPARE(sendFailedText(Protocol::HrdText), SendFailedText);
    QCOMPARE(sendFailedText(Protocol::Rigctld),
             QStringLiteral("Ready to connect, rigctld needs to be running."));

    Window::Main window({}, Protocol::Rigctld);
    QCOMPARE(window.portText(), QStringLiteral("4532"));
    QCOMPARE(Window::Main().portText(), QStringLiteral("7809"));
}

void TestProtocols::hrdFrames_data()
{
    QTest::addColumn<int>("hz");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("7 digits, 74 bytes") << 7'100'000 << handFrame("[1] set frequency-hz 7100000");
    QTest::newRow("8 digits, 76 bytes") << 21'900'000 << handFrame("[1] set frequency-hz 21900000");
}

void TestProtocols::hrdFrames()
{
    QFETCH(int, hz);
    QFETCH(QByteArray, frame);
    const QByteArray made = setFrequencyCommand(Protocol::Hrd, hz, QStringLiteral("1"));
    QCOMPARE(made.toHex(' '), frame.toHex(' '));
    QCOMPARE(made.size(), hz < 10'000'000 ? 74 : 76);
}

void TestProtocols::hrdRepliesFromTheStream()
{
    // Split across reads: nothing until the last byte.
    const QByteArray ok = handFrame("OK");
    QByteArray buffer;
    for (qsizetype i = 0; i < ok.size() - 1; ++i) {
        buffer += ok[i];
        QVERIFY(std::holds_alternative<Incomplete>(takeReply(Protocol::Hrd, buffer)));
    }
    buffer += ok.back();
    auto parse = takeReply(Protocol::Hrd, buffer);
    QVERIFY(std::holds_alternative<Reply>(parse));
    QCOMPARE(std::get<Reply>(parse).raw, QStringLiteral("OK"));
    QVERIFY(std::get<Reply>(parse).tuned);
    QVERIFY(buffer.isEmpty());

    // Two in one read, the first padded with NULs.
    QByteArray padded = handFrame("OK");
    padded.insert(padded.size() - 2, QByteArray(6, '\0'));
    padded[0] = char(padded.size());
    buffer = padded + handFrame("Unknown command");
    parse = takeReply(Protocol::Hrd, buffer);
    QCOMPARE(std::get<Reply>(parse).raw, QStringLiteral("OK"));
    parse = takeReply(Protocol::Hrd, buffer);
    QCOMPARE(std::get<Reply>(parse).tuned, false);
    QCOMPARE(std::get<Reply>(parse).text,
             QStringLiteral("HamRadioDeluxe did not tune: Unknown command"));
    QVERIFY(buffer.isEmpty());
}

void TestProtocols::hrdBadFramesDropTheLink_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray badMagic = handFrame("OK");
    badMagic[4] = 'X';
    QByteArray absurd = handFrame("OK");
    absurd.replace(0, 4, QByteArray("\xf0\xff\xff\x7f", 4)); // 2 GiB
    QByteArray tooShort = handFrame("OK");
    tooShort[0] = 8;
    QTest::newRow("bad magic word") << badMagic;
    QTest::newRow("absurd size") << absurd;
    QTest::newRow("size below the header") << tooShort;
}

void TestProtocols::hrdBadFramesDropTheLink()
{
    QFETCH(QByteArray, bytes);
    QByteArray buffer = bytes;
    QVERIFY(std::holds_alternative<Malformed>(takeReply(Protocol::Hrd, buffer)));

    ProtocolPeer peer(Protocol::Hrd);
    LinkUnderTest rig(Protocol::Hrd, peer.port());
    QVERIFY(rig.connect());
    QTRY_COMPARE(peer.commands.size(), 1);
    peer.send(bytes);
    QTRY_COMPARE(rig.controls.status, sendFailedText(Protocol::Hrd));
    QCOMPARE(rig.controls.colour, IndicatorRed);
    QVERIFY(!rig.client.isConnected());
}

void TestProtocols::rigctldCommandIgnoresTheLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(setFrequencyCommand(Protocol::Rigctld, 2'600'000), QByteArray("F 2600000\n"));
    QVERIFY(setFrequencyCommand(Protocol::Flrig, 2'600'000, {}, QStringLiteral("h"), 1)
                .contains("<double>2600000</double>"));
    QLocale::setDefault(QLocale::c());
}

void TestProtocols::rigctldReplies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("tuned");
    QTest::addColumn<QString>("text");

    QTest::newRow("tuned") << QByteArray("RPRT 0\n") << true << "RPRT 0";
    QTest::newRow("rejected") << QByteArray("RPRT -9\n") << false
                              << "rigctld did not tune: RPRT -9 (command rejected by the rig)";
    QTest::newRow("positive error") << QByteArray("RPRT 11\n") << false
                                    << "rigctld did not tune: RPRT 11 (function not available)";
    QTest::newRow("other lines passed over") << QByteArray("F: 2600000\nRPRT 0\n") << true << "RPRT 0";
}

void TestProtocols::rigctldReplies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, tuned);
    QFETCH(QString, text);
    QByteArray buffer = bytes.left(bytes.size() - 1);
    QVERIFY(std::holds_alternative<Incomplete>(takeReply(Protocol::Rigctld, buffer)));
    buffer = bytes;
    const auto parse = takeReply(Protocol::Rigctld, buffer);
    QVERIFY(std::holds_alternative<Reply>(parse));
    QCOMPARE(std::get<Reply>(parse).tuned, tuned);
    QCOMPARE(std::get<Reply>(parse).text, text);
}

void TestProtocols::flrigRequest()
{
    const QByteArray request = setFrequencyCommand(Protocol::Flrig, 21'900'000, {},
                                                   QStringLiteral(" 127.0.0.1 "), 12345);
    const qsizetype headerEnd = request.indexOf("\r\n\r\n");
    QVERIFY(headerEnd > 0);
    QList<QByteArray> lines = request.left(headerEnd + 2).split('\n');
    lines.removeLast();
    for (const QByteArray &line : std::as_const(lines))
        QVERIFY(line.endsWith('\r'));
    for (QByteArray &line : lines)
        line.chop(1);
    QCOMPARE(lines.first(), QByteArray("POST /RPC2 HTTP/1.1"));
    QVERIFY(lines.contains("Host: 127.0.0.1:12345"));
    QVERIFY(lines.contains("Content-Type: text/xml"));
    const QByteArray body = request.mid(headerEnd + 4);
    QVERIFY(lines.contains("Content-Length: " + QByteArray::number(body.size())));
    QVERIFY(body.startsWith("<?xml version=\"1.0\"?>"));
    QVERIFY(body.contains("<methodCall><methodName>rig.set_frequency</methodName><params><param>"
                          "<value><double>21900000</double></value></param></params></methodCall>"));
}

void TestProtocols::flrigReplies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("tuned");
    QTest::addColumn<QString>("text");

    const auto http = [](const QByteArray &status, const QByteArray &xml) {
        return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(xml.size())
               + "\r\n\r\n" + xml;
    };
    QTest::newRow("1: tuned")
        << http("200 OK", "<methodResponse><params><param><value><i4>1</i4></value></param></params></methodResponse>")
        << true << "1";
    QTest::newRow("0: not tuned")
        << http("200 OK", "<methodResponse><params><param><value><i4>0</i4></value></param></params></methodResponse>")
        << false << "flrig did not tune: the radio refused the frequency";
    QTest::newRow("fault")
        << http("200 OK", "<methodResponse><fault><value><struct><member><name>faultString</name>"
                          "<value><string>no rig</string></value></member></struct></value></fault></methodResponse>")
        << false << "flrig did not tune: no rig";
    QTest::newRow("HTTP error") << http("500 Internal Server Error", "") << false
                                << "flrig did not tune: HTTP/1.1 500 Internal Server Error";
}

void TestProtocols::flrigReplies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, tuned);
    QFETCH(QString, text);
    QByteArray buffer = bytes.left(bytes.size() - 1);
    if (!bytes.endsWith("\r\n\r\n"))
        QVERIFY(std::holds_alternative<Incomplete>(takeReply(Protocol::Flrig, buffer)));
    buffer = bytes + bytes;
    for (int i = 0; i < 2; ++i) {
        const auto parse = takeReply(Protocol::Flrig, buffer);
        QVERIFY(std::holds_alternative<Reply>(parse));
        QCOMPARE(std::get<Reply>(parse).tuned, tuned);
        QCOMPARE(std::get<Reply>(parse).text, text);
    }
    QVERIFY(buffer.isEmpty());
}

void TestProtocols::hrdAsksForTheContextFirst()
{
    ProtocolPeer peer(Protocol::Hrd);
    peer.answer = "OK";
    LinkUnderTest rig(Protocol::Hrd, peer.port());
    QVERIFY(rig.connect());
    QTRY_COMPARE(peer.commands, QList<QByteArray>{"get context"});
    rig.link.SendStep(QStringLiteral("7100000"));
    QTRY_COMPARE(peer.commands.size(), 2);
    QCOMPARE(peer.rawCommands.last(), handFrame("[1] set frequency-hz 7100000"));
    QTRY_COMPARE(rig.controls.status, ReplyPrefix + QStringLiteral("OK"));
    QCOMPARE(rig.controls.colour, IndicatorGreen);
}

void TestProtocols::sendsOnlyWhenTheStepChanges()
{
    ProtocolPeer peer(Protocol::Rigctld);
    peer.answer = "RPRT 0\n";
    LinkUnderTest rig(Protocol::Rigctld, peer.port());
    QVERIFY(rig.connect());
    for (int tick = 0; tick < 10; ++tick) {
        rig.link.SendStep(QStringLiteral("21900000"));
        QTest::qWait(10);
    }
    rig.link.SendStep(QStringLiteral("22000000"));
    QTRY_COMPARE(peer.commands.size(), 2);
    QTest::qWait(100);
    QCOMPARE(peer.commands, (QList<QByteArray>{"F 21900000\n", "F 22000000\n"}));
    QCOMPARE(rig.controls.status, ReplyPrefix + QStringLiteral("RPRT 0"));

    // After connecting again the step goes out once more.
    rig.link.onConnectClicked();
    QTRY_COMPARE(peer.commands.size(), 3);
    QCOMPARE(peer.commands.last(), QByteArray("F 22000000\n"));
}

void TestProtocols::newestStepWinsWhileOneIsInFlight()
{
    ProtocolPeer peer(Protocol::Rigctld);
    peer.answer = "RPRT 0\n";
    peer.holdReplies = true;
    LinkUnderTest rig(Protocol::Rigctld, peer.port());
    QVERIFY(rig.connect());
    rig.link.SendStep(QStringLiteral("2000000"));
    QTRY_COMPARE(peer.commands.size(), 1);
    for (const char *step : {"2100000", "2200000", "2300000"})
        rig.link.SendStep(QString::fromLatin1(step));
    QTest::qWait(100);
    QCOMPARE(peer.commands.size(), 1); // one at a time
    peer.release();
    QTRY_COMPARE(peer.commands.size(), 2);
    QCOMPARE(peer.commands.last(), QByteArray("F 2300000\n"));
}

void TestProtocols::refusalIsShownAndTheLinkStays()
{
    ProtocolPeer peer(Protocol::Rigctld);
    peer.answer = "RPRT -9\n";
    LinkUnderTest rig(Protocol::Rigctld, peer.port());
    QVERIFY(rig.connect());
    rig.link.SendStep(QStringLiteral("2000000"));
    QTRY_COMPARE(rig.controls.status,
                 QStringLiteral("rigctld did not tune: RPRT -9 (command rejected by the rig)"));
    QCOMPARE(rig.controls.colour, IndicatorGreen);
    QVERIFY(rig.client.isConnected());
    rig.link.SendStep(QStringLiteral("2100000"));
    QTRY_COMPARE(peer.commands.size(), 2);
}

void TestProtocols::silenceForTwoSecondsIsAFailedSend()
{
    ProtocolPeer peer(Protocol::Rigctld); // answers nothing
    LinkUnderTest rig(Protocol::Rigctld, peer.port());
    QVERIFY(rig.connect());
    QElapsedTimer clock;
    clock.start();
    rig.link.SendStep(QStringLiteral("2000000"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.controls.status,
                              QStringLiteral("Ready to connect, rigctld needs to be running."), 4000);
    QVERIFY2(clock.elapsed() >= RigLink::ReplyTimeoutMs - 50,
             qPrintable(QString::number(clock.elapsed()) + u' ' + rig.controls.toolTip));
    QCOMPARE(rig.controls.colour, IndicatorRed);
    QVERIFY(!rig.client.isConnected());
}

void TestProtocols::flrigConversation_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("status");
    QTest::newRow("1") << int(FlrigPeer::Answer::One) << QString(ReplyPrefix + u'1');
    QTest::newRow("0") << int(FlrigPeer::Answer::Zero)
                       << "flrig did not tune: the radio refused the frequency";
    QTest::newRow("fault") << int(FlrigPeer::Answer::Fault)
                           << "flrig did not tune: radio not connected";
    QTest::newRow("nothing") << int(FlrigPeer::Answer::Nothing)
                             << "Ready to connect, flrig needs to be running.";
}

void TestProtocols::flrigConversation()
{
    QFETCH(int, answer);
    QFETCH(QString, status);
    FlrigPeer peer;
    peer.answer = FlrigPeer::Answer(answer);
    LinkUnderTest rig(Protocol::Flrig, peer.port());
    QVERIFY(rig.connect());
    rig.link.SendStep(QStringLiteral("14100000"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.controls.status, status, 4000);
    QCOMPARE(peer.problems, QStringList());
    QCOMPARE(peer.bodies.size(), 1);
    QVERIFY(peer.bodies.first().contains("<double>14100000</double>"));
}

void TestProtocols::plainTextStaysAsItWas()
{
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    LinkUnderTest rig(Protocol::HrdText, peer.port());
    QVERIFY(rig.connect());
    for (int tick = 0; tick < 3; ++tick)
        rig.link.SendStep(QStringLiteral("21900000"));
    QTRY_COMPARE(peer.lines().size(), 3); // every tick, changed or not
    peer.reply("OK\r\n");
    QTRY_COMPARE(rig.controls.status, ReplyPrefix + QStringLiteral("OK\r\n"));
}

void TestProtocols::realRigctldTunesTheDummyRadio()
{
    const quint16 port = freePort();
    QProcess rigctld;
    rigctld.setProcessChannelMode(QProcess::ForwardedChannels);
    rigctld.start(QStringLiteral("rigctld"),
                  {QStringLiteral("-m"), QStringLiteral("1"), QStringLiteral("-T"),
                   QStringLiteral("127.0.0.1"), QStringLiteral("-t"), QString::number(port)});
    QVERIFY2(rigctld.waitForStarted(5000), "rigctld (Debian's libhamlib-utils) did not start");
    const auto ask = [port](const QByteArray &command) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForConnected(1000))
            return QByteArray();
        socket.write(command);
        socket.waitForBytesWritten(1000);
        while (!socket.canReadLine() && socket.waitForReadyRead(2000)) {
        }
        return socket.readLine().trimmed();
    };
    QElapsedTimer waited;
    waited.start();
    while (ask("f\n").isEmpty() && waited.elapsed() < 15'000)
        QTest::qWait(100);
    QVERIFY2(waited.elapsed() < 15'000, "rigctld did not answer");

    QDateTime now(QDate(2026, 12, 7), QTime(12, 34, 56, 789)); // 21.9 MHz
    Window::Main window([&] { return now; }, Protocol::Rigctld);
    window.controls().port->setText(QString::number(port));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), IndicatorGreen);
    window.controls().Command1->click();
    QTRY_COMPARE(window.statusCaption(), ReplyPrefix + QStringLiteral("RPRT 0"));
    QTRY_COMPARE(ask("f\n"), QByteArray("21900000"));

    // One second later in the sweep the dummy radio follows.
    now = now.addSecs(1);
    QTRY_COMPARE(window.controls().text2->text(), QStringLiteral("22.04 MHz"));
    QTRY_COMPARE(ask("f\n"), QByteArray("22000000"));
    window.controls().Command1->click();
    rigctld.kill();
    rigctld.waitForFinished();
}

void TestProtocols::rigsimSpeaksEveryProtocol_data()
{
    QTest::addColumn<QString>("rig");
    QTest::addColumn<QString>("reply");
    QTest::newRow("hrd-text") << "hrd-text" << "OK\r\n";
    QTest::newRow("hrd") << "hrd" << "OK";
    QTest::newRow("rigctld") << "rigctld" << "RPRT 0";
    QTest::newRow("flrig") << "flrig" << "1";
}

void TestProtocols::rigsimSpeaksEveryProtocol()
{
    QFETCH(QString, rig);
    QFETCH(QString, reply);
    const quint16 port = freePort();
    QProcess rigsim;
    rigsim.start(QStringLiteral(RIGSIM_PATH),
                 {QStringLiteral("--rig"), rig, QStringLiteral("--port"), QString::number(port)});
    QVERIFY(rigsim.waitForReadyRead(5000));
    QVERIFY(rigsim.readLine().startsWith("rigsim listening"));

    LinkUnderTest link(*protocolFromOption(rig), port);
    QVERIFY(link.connect());
    link.link.SendStep(QStringLiteral("7100000"));
    QTRY_COMPARE(link.controls.status, ReplyPrefix + reply);
    QByteArray printed;
    QTRY_VERIFY2((printed += rigsim.readAllStandardOutput()).contains("7100000"), printed.constData());
    rigsim.kill();
    rigsim.waitForFinished();
}

void TestProtocols::commandLine()
{
    QProcess zarvotel;
    zarvotel.start(QStringLiteral(ZARVOTEL_PATH), {QStringLiteral("--rig"), QStringLiteral("bogus")});
    QVERIFY(zarvotel.waitForFinished(10'000));
    QCOMPARE(zarvotel.exitCode(), 2);
    QVERIFY(zarvotel.readAllStandardError().contains("unknown protocol \"bogus\""));

    zarvotel.start(QStringLiteral(ZARVOTEL_PATH), {QStringLiteral("--version")});
    QVERIFY(zarvotel.waitForFinished(10'000));
    QCOMPARE(zarvotel.exitCode(), 0);
    QVERIFY(zarvotel.readAllStandardOutput().startsWith("zarvotel "));

    zarvotel.start(QStringLiteral(ZARVOTEL_PATH), {QStringLiteral("--help")});
    QVERIFY(zarvotel.waitForFinished(10'000));
    const QByteArray help = zarvotel.readAllStandardOutput();
    QVERIFY(help.contains("--rig <protocol>") && help.contains("rigctld") && help.contains("flrig"));
}

QTEST_MAIN(TestProtocols)
#include "tst_protocols.moc"
