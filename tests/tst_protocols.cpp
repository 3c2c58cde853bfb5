// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The rig-control programs beside HamRadioDeluxe's text lines: their wire formats, the
// conversation where answers are awaited, and the real rigctld and flrig.

#include "fixtures.h"
#include "flrig.h"
#include "hrdframes.h"
#include "protocol.h"
#include "rigctld.h"
#include "rigprogram.h"
#include "soundserver.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTcpServer>
#include <QTemporaryDir>
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

// A conversation past its opening, as after connecting: HamRadioDeluxe on radio 1,
// rigctld in its plain mode.
std::unique_ptr<Conversation> readyConversation(Protocol protocol)
{
    auto conversation = newConversation(protocol, QStringLiteral("127.0.0.1"), 12345);
    QByteArray opening = conversation->opening();
    QByteArray answers;
    if (protocol == Protocol::Hrd)
        answers = hrdFrame(QStringLiteral("1")) + hrdFrame(QStringLiteral("1:IC-7300"))
                  + hrdFrame(QStringLiteral("IC-7300"));
    else if (protocol == Protocol::Rigctld)
        answers = "0\n";
    while (!answers.isEmpty()) {
        const Answer answer = conversation->takeAnswer(answers);
        if (!std::holds_alternative<SetupNext>(answer))
            return nullptr;
    }
    return conversation;
}

// A second client of a rigctld on 127.0.0.1, as a logging program would be, that asks it
// questions on one connection it keeps (rigctld 4.5 now and then drops a connection that
// comes and goes at once). The window under test goes on handling its events meanwhile.
class RigctldClient
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.abort();
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return QTest::qWaitFor(
                   [&] {
                       return m_socket.state() != QAbstractSocket::ConnectingState
                              && m_socket.state() != QAbstractSocket::HostLookupState;
                   },
                   5000)
               && m_socket.state() == QAbstractSocket::ConnectedState;
    }
    // The first line of the answer of the given number of lines, or nothing.
    QByteArray ask(const QByteArray &command, int lines = 1)
    {
        m_socket.write(command);
        QByteArrayList answer;
        while (answer.size() < lines) {
            if (!QTest::qWaitFor([&] { return m_socket.canReadLine(); }, 5000))
                return {};
            answer << m_socket.readLine().trimmed();
        }
        return answer.first();
    }

private:
    QTcpSocket m_socket;
};

// Starts Hamlib's rigctld with its dummy radio on a free port and connects the client to it
// once it answers; returns the port, or 0. rigctld cannot be given port 0, so a port taken
// in between is tried again with another.
quint16 startRigctld(QProcess &rigctld, RigctldClient &client, const QStringList &options = {})
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = closedPort();
        rigctld.start(QStringLiteral("rigctld"),
                      QStringList{QStringLiteral("-m"),
                                  QStringLiteral("1"),
                                  QStringLiteral("-T"),
                                  QStringLiteral("127.0.0.1"),
                                  QStringLiteral("-t"),
                                  QString::number(port)}
                          + options);
        if (!rigctld.waitForStarted(5000))
            return 0;
        const bool answers = QTest::qWaitFor(
            [&] {
                return rigctld.state() != QProcess::Running
                       || (client.connectTo(port) && !client.ask("\\chk_vfo\n").isEmpty());
            },
            15'000);
        if (answers && rigctld.state() == QProcess::Running)
            return port;
        rigctld.kill();
        rigctld.waitForFinished();
    }
    return 0;
}

} // namespace

class TestProtocols : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestEnvironment(); }
    void init() { setUpTestEnvironment(); }

    void options();
    void titles_data();
    void titles();
    void hrdFrames_data();
    void hrdFrames();
    void hrdRadioIds_data();
    void hrdRadioIds();
    void hrdRepliesFromTheStream();
    void hrdBadFramesDropTheLink_data();
    void hrdBadFramesDropTheLink();
    void commandsIgnoreTheLocale_data();
    void commandsIgnoreTheLocale();
    void rigctldReplies_data();
    void rigctldReplies();
    void flrigRequest();
    void flrigReplies_data();
    void flrigReplies();
    void xmlRpcResponses_data();
    void xmlRpcResponses();
    void flrigUpperSideband_data();
    void flrigUpperSideband();

    void conversation_data();
    void conversation();
    void newestStepAfterAnOutage_data();
    void newestStepAfterAnOutage();

    void realRigctldTunesTheDummyRadio_data();
    void realRigctldTunesTheDummyRadio();
    void realRigctldSetsUpperSideband_data() { realRigctldTunesTheDummyRadio_data(); }
    void realRigctldSetsUpperSideband();
    void realFlrigTunes();
    void rigctlServers_data();
    void rigctlServers();
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
    QCOMPARE(WindowUnderTest({}, Protocol::Rigctld).portText(), QStringLiteral("4532"));
}

void TestProtocols::titles_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<QString>("title");
    QTest::newRow("hrd-text") << Protocol::HrdText << "Zarvotel for HamRadioDeluxe";
    QTest::newRow("hrd") << Protocol::Hrd << "Zarvotel for HamRadioDeluxe";
    QTest::newRow("rigctld") << Protocol::Rigctld << "Zarvotel for rigctld";
    QTest::newRow("flrig") << Protocol::Flrig << "Zarvotel for flrig";
}

void TestProtocols::titles()
{
    QFETCH(Protocol, protocol);
    QFETCH(QString, title);
    QCOMPARE(WindowUnderTest({}, protocol).windowTitle(), title);
}

void TestProtocols::hrdFrames_data()
{
    QTest::addColumn<int>("hz");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("7 digits") << 7'100'000 << handFrame("[1] set frequency-hz 7100000");
    QTest::newRow("8 digits") << 21'900'000 << handFrame("[1] set frequency-hz 21900000");
}

void TestProtocols::hrdFrames()
{
    QFETCH(int, hz);
    QFETCH(QByteArray, frame);
    const auto conversation = readyConversation(Protocol::Hrd);
    QVERIFY(conversation);
    QCOMPARE(conversation->stepCommand(hz).toHex(' '), frame.toHex(' '));
    QCOMPARE(newConversation(Protocol::Hrd)->opening(), handFrame("get context"));
}

void TestProtocols::hrdRadioIds_data()
{
    QTest::addColumn<QString>("radios");
    QTest::addColumn<QString>("current");
    QTest::addColumn<std::optional<quint32>>("id");
    QTest::newRow("second of two") << "1:IC-7300,2:FT-991A"
                                   << "FT-991A" << std::optional<quint32>(2);
    QTest::newRow("blanks around") << " 1 : IC-7300 , 12 : FT-991A "
                                   << " FT-991A" << std::optional<quint32>(12);
    QTest::newRow("not listed") << "1:IC-7300"
                                << "FT-991A" << std::optional<quint32>();
    QTest::newRow("no radio") << ""
                              << "" << std::optional<quint32>();
    QTest::newRow("id not a number") << "x:IC-7300"
                                     << "IC-7300" << std::optional<quint32>();
    QTest::newRow("negative id") << "-1:IC-7300"
                                 << "IC-7300" << std::optional<quint32>();
    QTest::newRow("id beyond 32 bits") << "99999999999:IC-7300"
                                       << "IC-7300" << std::optional<quint32>();
    QTest::newRow("words instead") << "Unknown command"
                                   << "Unknown command" << std::optional<quint32>();
}

void TestProtocols::hrdRadioIds()
{
    QFETCH(QString, radios);
    QFETCH(QString, current);
    QFETCH(std::optional<quint32>, id);
    QCOMPARE(hrdRadioId(radios, current), id);
}

void TestProtocols::hrdRepliesFromTheStream()
{
    // Split across reads: nothing until the last byte.
    const QByteArray ok = handFrame("OK");
    const auto hrd = readyConversation(Protocol::Hrd);
    QVERIFY(hrd);
    QByteArray buffer;
    for (qsizetype i = 0; i < ok.size() - 1; ++i) {
        buffer += ok[i];
        QVERIFY(std::holds_alternative<Incomplete>(hrd->takeAnswer(buffer)));
    }
    buffer += ok.back();
    auto parse = hrd->takeAnswer(buffer);
    const Reply *reply = std::get_if<Reply>(&parse);
    QVERIFY(reply);
    QCOMPARE(reply->text, QStringLiteral("OK"));
    QVERIFY(reply->tuned);
    QVERIFY(buffer.isEmpty());

    // Two in one read, the first padded with NULs.
    QByteArray padded = handFrame("OK");
    padded.insert(padded.size() - 2, QByteArray(6, '\0'));
    padded[0] = char(padded.size());
    buffer = padded + handFrame("Unknown command");
    parse = hrd->takeAnswer(buffer);
    reply = std::get_if<Reply>(&parse);
    QVERIFY(reply);
    QCOMPARE(reply->text, QStringLiteral("OK"));
    parse = hrd->takeAnswer(buffer);
    reply = std::get_if<Reply>(&parse);
    QVERIFY(reply);
    QCOMPARE(reply->tuned, false);
    QCOMPARE(reply->text, QStringLiteral("HamRadioDeluxe did not tune: Unknown command"));
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
    QVERIFY(std::holds_alternative<Malformed>(newConversation(Protocol::Hrd)->takeAnswer(buffer)));

    LinkRig rig({.protocol = Protocol::Hrd});
    QVERIFY(rig.connect());
    QTRY_COMPARE(rig.peer.commands().size(), 1); // "get context"
    rig.peer.send(bytes);
    QTRY_COMPARE(rig.controls.status, ReadyToConnect);
    QCOMPARE(rig.controls.colour, Red);
    QVERIFY(!rig.client.isConnected());
}

void TestProtocols::commandsIgnoreTheLocale_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<QString>("command");
    QTest::newRow("HamRadioDeluxe 5") << Protocol::Hrd << "[2] set frequency-hz 21900000";
    QTest::newRow("rigctld") << Protocol::Rigctld << "F 21900000";
    QTest::newRow("flrig") << Protocol::Flrig << "rig.set_frequency 21900000";
}

// In a locale that groups thousands with "." and writes decimals with ",", the window shows
// the locale's numbers and the command carries plain digits.
void TestProtocols::commandsIgnoreTheLocale()
{
    QFETCH(Protocol, protocol);
    QFETCH(QString, command);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Station rig({.protocol = protocol, .behaviour = Peer::Behaviour::Answer});
    QVERIFY(rig.connectWindow());
    rig.window.controls().Command1->click();
    QTRY_COMPARE(rig.peer.commandTexts().value(protocol == Protocol::Hrd       ? 3
                                               : protocol == Protocol::Rigctld ? 1
                                                                               : 0),
                 command);
    QCOMPARE(rig.window.controls().text2->text(), QStringLiteral("21,94 MHz"));
    QCOMPARE(rig.peer.problems(), QStringList());
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
    QTest::newRow("not powered on") << QByteArray("RPRT -20\n") << false
                                    << "rigctld did not tune: RPRT -20 (the rig is not powered on)";
    QTest::newRow("access denied")
        << QByteArray("RPRT -22\n") << false << "rigctld did not tune: RPRT -22 (access denied)";
    QTest::newRow("beyond Hamlib's codes")
        << QByteArray("RPRT -23\n") << false << "rigctld did not tune: RPRT -23 (error -23)";
    QTest::newRow("other lines passed over")
        << QByteArray("F: 2600000\nRPRT 0\n") << true << "RPRT 0";
    QTest::newRow("smallest 32-bit code")
        << QByteArray("RPRT -2147483648\n") << false
        << "rigctld did not tune: RPRT -2147483648 (error -2147483648)";
    QTest::newRow("largest 32-bit code")
        << QByteArray("RPRT 2147483647\n") << false
        << "rigctld did not tune: RPRT 2147483647 (error 2147483647)";
}

void TestProtocols::rigctldReplies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, tuned);
    QFETCH(QString, text);
    const auto rigctld = readyConversation(Protocol::Rigctld);
    QVERIFY(rigctld);
    QByteArray buffer = bytes.left(bytes.size() - 1);
    QVERIFY(std::holds_alternative<Incomplete>(rigctld->takeAnswer(buffer)));
    buffer = bytes;
    const auto parse = rigctld->takeAnswer(buffer);
    const Reply *reply = std::get_if<Reply>(&parse);
    QVERIFY(reply);
    QCOMPARE(reply->tuned, tuned);
    QCOMPARE(reply->whole.isEmpty() ? reply->text : reply->whole, text);
}

void TestProtocols::flrigRequest()
{
    QCOMPARE(httpHost(QStringLiteral("::1"), 12345), QByteArray("[::1]:12345"));
    QCOMPARE(httpHost(QStringLiteral("localhost"), 80), QByteArray("localhost:80"));
    const QByteArray request
        = newConversation(Protocol::Flrig, QStringLiteral(" 127.0.0.1 "), 12345)
              ->stepCommand(21'900'000);
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
    QVERIFY(
        body.contains("<methodCall><methodName>rig.set_frequency</methodName><params><param>"
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
    QTest::newRow("1: tuned") << http("200 OK",
                                      "<methodResponse><params><param><value><i4>1</i4></value></"
                                      "param></params></methodResponse>")
                              << true << "1";
    QTest::newRow("0: not tuned") << http(
        "200 OK",
        "<methodResponse><params><param><value><i4>0</i4></value></param>"
        "</params></methodResponse>")
                                  << false
                                  << "flrig did not tune: no transceiver is online in flrig, or "
                                     "its XML-RPC control is turned off.";
    QTest::newRow("fault, entities decoded")
        << http("200 OK",
                "<methodResponse><fault><value><struct><member><name>faultString</name>"
                "<value><string>no rig &amp; no &lt;port&gt;</string></value></member>"
                "</struct></value></fault></methodResponse>")
        << false << "flrig did not tune: no rig & no <port>";
    QTest::newRow("not XML-RPC") << http("200 OK", "<html>hello</html>") << false
                                 << "flrig sent an answer that is not understood.";
    QTest::newRow("HTTP error") << http("500 Internal Server Error", "") << false
                                << "flrig did not tune: HTTP/1.1 500 Internal Server Error";
}

void TestProtocols::flrigReplies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, tuned);
    QFETCH(QString, text);
    QByteArray buffer = bytes.left(bytes.size() - 1);
    const auto flrig = newConversation(Protocol::Flrig, QStringLiteral("127.0.0.1"), 12345);
    if (!bytes.endsWith("\r\n\r\n"))
        QVERIFY(std::holds_alternative<Incomplete>(flrig->takeAnswer(buffer)));
    buffer = bytes + bytes;
    for (int i = 0; i < 2; ++i) {
        const auto parse = flrig->takeAnswer(buffer);
        const Reply *reply = std::get_if<Reply>(&parse);
        QVERIFY(reply);
        QCOMPARE(reply->tuned, tuned);
        QCOMPARE(reply->whole.isEmpty() ? reply->text : reply->whole, text);
    }
    QVERIFY(buffer.isEmpty());
}

void TestProtocols::xmlRpcResponses_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("read"); // "type text", "fault: words" or "malformed"

    const auto value = [](const char *inner) {
        return "<?xml version=\"1.0\"?>\n<methodResponse>\n <params><param>\n  <value>"
               + QByteArray(inner) + "</value>\n </param></params>\n</methodResponse>\n";
    };
    QTest::newRow("i4") << value("<i4>1</i4>") << "i4 1";
    QTest::newRow("int") << value("<int>0</int>") << "int 0";
    QTest::newRow("boolean") << value("<boolean>1</boolean>") << "boolean 1";
    QTest::newRow("double") << value("<double>14100000.0</double>") << "double 14100000.0";
    QTest::newRow("string with entities")
        << value("<string>a &lt;b&gt; &amp; c</string>") << "string a <b> & c";
    QTest::newRow("untyped is a string") << value("14100000") << "string 14100000";
    QTest::newRow("an array is not understood") << value("<array><data/></array>") << "malformed";
    QTest::newRow("no params") << QByteArray("<methodResponse></methodResponse>") << "malformed";
    QTest::newRow("not XML") << QByteArray("OK") << "malformed";
    QTest::newRow("cut short") << value("<i4>1</i4>").left(40) << "malformed";
    QTest::newRow("fault without words") << QByteArray(
        "<methodResponse><fault><value><struct></struct></value></fault></methodResponse>")
                                         << "malformed";
}

void TestProtocols::xmlRpcResponses()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, read);
    const auto response = readXmlRpcResponse(body);
    QString got = QStringLiteral("malformed");
    if (const auto *value = std::get_if<XmlRpcValue>(&response))
        got = value->type + u' ' + value->text;
    else if (const auto *fault = std::get_if<XmlRpcFault>(&response))
        got = QStringLiteral("fault: ") + fault->words;
    QCOMPARE(got, read);
}

void TestProtocols::flrigUpperSideband_data()
{
    QTest::addColumn<QByteArray>("values"); // rig.get_modes' answer inside its <array>
    QTest::addColumn<QString>("mode");      // what is asked for; "none", or "no list"
    QTest::newRow("USB listed") << QByteArray("<value>LSB</value><value>USB</value>") << "USB";
    QTest::newRow("typed strings") << QByteArray("<value><string>USB</string></value>") << "USB";
    QTest::newRow("plain USB before a data mode")
        << QByteArray("<value>USB-D</value><value>USB</value>") << "USB";
    QTest::newRow("only a data mode")
        << QByteArray("<value>LSB-D</value><value>USB-D</value>") << "USB-D";
    QTest::newRow("no upper sideband")
        << QByteArray("<value>CW</value><value>FM</value>") << "none";
    QTest::newRow("numbers are no modes") << QByteArray("<value><i4>1</i4></value>") << "no list";
}

void TestProtocols::flrigUpperSideband()
{
    QFETCH(QByteArray, values);
    QFETCH(QString, mode);
    const auto modes = readXmlRpcStrings(
        "<?xml version=\"1.0\"?>\n<methodResponse><params><param>\n\t<value><array><data>" + values
        + "</data></array></value>\n</param></params></methodResponse>\n");
    const auto picked = modes ? upperSidebandMode(*modes) : QStringLiteral("no list");
    QCOMPARE(picked.value_or(QStringLiteral("none")), mode);
}

void TestProtocols::conversation_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<Peer::Behaviour>("behaviour");
    QTest::addColumn<QByteArray>("answer"); // empty: the program's own
    // The peer's set-up: "vfo" (rigctld -o), "radios LIST|CURRENT" (HamRadioDeluxe's),
    // "no USB" (the peer refuses mode commands).
    QTest::addColumn<QString>("setup");
    // What the test does, in order: "step HZ" (a tick's step), "taken N" (wait until the
    // peer has taken N commands), "replied" (wait for a reply in the status line), "hold" and
    // "release" (the peer's answers), "reconnect", "send TEXT" (the peer sends TEXT),
    // "listen" (upper sideband wanted), "refused TEXT" (wait until the link reports TEXT).
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("atLeastMs"); // the status comes no sooner

    using B = Peer::Behaviour;
    const QString reply = QStringLiteral(" Sending Frequency step to Radio..... ");
    const QString chk = QStringLiteral("\\chk_vfo");
    QTest::newRow("HamRadioDeluxe 5: the current radio's id, then the step")
        << Protocol::Hrd << B::Answer << QByteArray() << QString()
        << QStringList{"taken 3", "step 7100000"}
        << QStringList{"get context", "get radios", "get radio", "[2] set frequency-hz 7100000"}
        << reply + "OK" << true << 0;
    QTest::newRow("HamRadioDeluxe 5 names no listed radio: nothing is sent")
        << Protocol::Hrd << B::Answer << QByteArray() << QStringLiteral("radios 1:IC-7300|FT-991A")
        << QStringList{"taken 3", "step 7100000", "step 7200000"}
        << QStringList{"get context", "get radios", "get radio"}
        << "HamRadioDeluxe names no radio to tune: it answered \"FT-991A\" to \"get radio\" and "
           "\"1:IC-7300\" to \"get radios\"."
        << true << 0;
    QTest::newRow("sends only when the step changes, and again after connecting")
        << Protocol::Rigctld << B::Answer << QByteArray() << QString()
        << QStringList{"step 21900000",
                       "taken 2",
                       "replied",
                       "step 21900000",
                       "step 21900000",
                       "step 22000000",
                       "taken 3",
                       "replied",
                       "step 22000000",
                       "reconnect",
                       "taken 5"}
        << QStringList{chk, "F 21900000", "F 22000000", chk, "F 22000000"} << reply + "RPRT 0"
        << true << 0;
    QTest::newRow("rigctld in VFO mode: the VFO is named")
        << Protocol::Rigctld << B::Answer << QByteArray() << QStringLiteral("vfo")
        << QStringList{"step 21900000"} << QStringList{chk, "F currVFO 21900000"}
        << reply + "RPRT 0" << true << 0;
    QTest::newRow("one at a time, the newest step winning")
        << Protocol::Rigctld << B::Answer << QByteArray() << QString()
        << QStringList{"hold",
                       "step 2000000",
                       "taken 2",
                       "step 2100000",
                       "step 2200000",
                       "step 2300000",
                       "release",
                       "taken 3"}
        << QStringList{chk, "F 2000000", "F 2300000"} << reply + "RPRT 0" << true << 0;
    QTest::newRow("a refusal is shown and the link stays")
        << Protocol::Rigctld << B::Refuse << QByteArray() << QString()
        << QStringList{"step 2000000", "taken 2", "step 2100000", "taken 3"}
        << QStringList{chk, "F 2000000", "F 2100000"}
        << "rigctld did not tune: RPRT -9 (command rejected by the rig)" << true << 0;
    const QString usb = QStringLiteral("M USB 0");
    QTest::newRow("listening: upper sideband after the first step, again after reconnecting")
        << Protocol::Rigctld << B::Answer << QByteArray() << QString()
        << QStringList{"listen", "step 21900000", "taken 3", "reconnect", "taken 6"}
        << QStringList{chk, "F 21900000", usb, chk, "F 21900000", usb} << reply + "RPRT 0" << true
        << 0;
    QTest::newRow("listening starts while connected; the next step waits for its answer")
        << Protocol::Rigctld << B::Answer << QByteArray() << QStringLiteral("vfo")
        << QStringList{"step 2000000",
                       "replied",
                       "hold",
                       "listen",
                       "step 2100000",
                       "taken 3",
                       "release",
                       "taken 4"}
        << QStringList{chk, "F currVFO 2000000", "M currVFO USB 0", "F currVFO 2100000"}
        << reply + "RPRT 0" << true << 0;
    QTest::newRow("rigctld: the radio refuses upper sideband, the steps go on")
        << Protocol::Rigctld << B::Answer << QByteArray() << QStringLiteral("no USB")
        << QStringList{"listen",
                       "step 2000000",
                       "refused The radio did not take upper sideband: RPRT -11 (function not "
                       "available)",
                       "step 2100000",
                       "taken 4"}
        << QStringList{chk, "F 2000000", usb, "F 2100000"} << reply + "RPRT 0" << true << 0;
    // "\chk_vfo" unanswered for two seconds is gone without; the step's silence is not.
    QTest::newRow("rigctld silent for two seconds: a failed send")
        << Protocol::Rigctld << B::Silent << QByteArray() << QString()
        << QStringList{"step 2000000"} << QStringList{chk, "F 2000000"}
        << "Ready to connect, rigctld needs to be running." << false << 3950;
    const QStringList step141{QStringLiteral("step 14100000")};
    const QStringList set141{QStringLiteral("rig.set_frequency 14100000")};
    QTest::newRow("flrig answers 1") << Protocol::Flrig << B::Answer << QByteArray() << QString()
                                     << step141 << set141 << reply + "1" << true << 0;
    QTest::newRow("flrig answers 0") << Protocol::Flrig << B::Answer << QByteArray("<i4>0</i4>")
                                     << QString() << step141 << set141
                                     << "flrig did not tune: no transceiver is online in flrig, or "
                                        "its XML-RPC control is turned off."
                                     << true << 0;
    QTest::newRow("flrig answers a fault")
        << Protocol::Flrig << B::Refuse << QByteArray() << QString() << step141 << set141
        << "flrig did not tune: radio not connected" << true << 0;
    QTest::newRow("HamRadioDeluxe 5: the mode control, its list, then upper sideband")
        << Protocol::Hrd << B::Answer << QByteArray() << QString()
        << QStringList{"listen", "taken 3", "step 7100000", "taken 7", "step 7200000", "taken 8"}
        << QStringList{"get context",
                       "get radios",
                       "get radio",
                       "[2] set frequency-hz 7100000",
                       "[2] get dropdowns",
                       "[2] get dropdown-list {Mode}",
                       "[2] set dropdown Mode USB 1",
                       "[2] set frequency-hz 7200000"}
        << reply + "OK" << true << 0;
    QTest::newRow("flrig: the radio's modes, then upper sideband")
        << Protocol::Flrig << B::Answer << QByteArray() << QString()
        << QStringList{"listen", "step 14100000", "taken 3", "step 14200000", "taken 4"}
        << QStringList{"rig.set_frequency 14100000",
                       "rig.get_modes",
                       "rig.set_mode USB",
                       "rig.set_frequency 14200000"}
        << reply + "1" << true << 0;
    QTest::newRow("flrig: the radio refuses upper sideband")
        << Protocol::Flrig << B::Answer << QByteArray() << QStringLiteral("no USB")
        << QStringList{"listen",
                       "step 14100000",
                       "refused The radio did not take upper sideband: mode not available"}
        << QStringList{"rig.set_frequency 14100000", "rig.get_modes", "rig.set_mode USB"}
        << reply + "1" << true << 0;
    QTest::newRow("flrig silent") << Protocol::Flrig << B::Silent << QByteArray() << QString()
                                  << step141 << set141
                                  << "Ready to connect, flrig needs to be running." << false
                                  << 1950;
    QTest::newRow("flrig keeps the connection open")
        << Protocol::Flrig << B::Answer << QByteArray() << QString()
        << QStringList{"step 14100000", "taken 1", "replied", "step 14200000", "taken 2"}
        << QStringList{"rig.set_frequency 14100000", "rig.set_frequency 14200000"} << reply + "1"
        << true << 0;
    QTest::newRow("plain text lines go out at every tick")
        << Protocol::HrdText << B::Silent << QByteArray() << QString()
        << QStringList{"step 21900000", "step 21900000", "step 21900000", "taken 3", "send OK\r\n"}
        << QStringList(3, QStringLiteral("set frequency-hz 21900000")) << reply + "OK\r\n"
        << true << 0;
}

void TestProtocols::conversation()
{
    QFETCH(Protocol, protocol);
    QFETCH(Peer::Behaviour, behaviour);
    QFETCH(QByteArray, answer);
    QFETCH(QString, setup);
    QFETCH(QStringList, script);
    QFETCH(QStringList, commands);
    QFETCH(QString, status);
    QFETCH(bool, connected);
    QFETCH(int, atLeastMs);

    LinkRig rig({.protocol = protocol, .behaviour = behaviour});
    Peer::RigPeer &peer = rig.peer;
    peer.setAnswer(answer);
    peer.setVfoMode(setup == u"vfo");
    peer.setRefusesMode(setup == u"no USB");
    peer.setMode(QStringLiteral("LSB"));
    QSignalSpy refusals(&rig.link, &RigLink::sidebandRefused);
    QSignalSpy modes(&peer, &Peer::RigPeer::modeChanged);
    if (setup.startsWith(u"radios "))
        peer.setRadios(setup.mid(7).section(u'|', 0, 0), setup.section(u'|', 1));
    QVERIFY(rig.connect());
    QElapsedTimer clock;
    clock.start();
    for (const QString &action : std::as_const(script)) {
        const QString verb = action.section(u' ', 0, 0);
        const QString argument = action.section(u' ', 1);
        if (verb == u"step") {
            rig.link.SendStep(argument.toInt());
        } else if (verb == u"taken") {
            QTRY_COMPARE(peer.commands().size(), argument.toInt());
        } else if (verb == u"replied") {
            QTRY_VERIFY(rig.controls.status.startsWith(Sending));
            rig.controls.status.clear();
        } else if (verb == u"hold") {
            peer.holdAnswers();
        } else if (verb == u"release") {
            peer.releaseAnswers();
        } else if (verb == u"reconnect") {
            QVERIFY(rig.connect());
        } else if (verb == u"send") {
            peer.send(argument.toUtf8());
        } else if (verb == u"listen") {
            rig.link.setSidebandWanted(true);
        } else if (verb == u"refused") {
            QTRY_COMPARE(refusals.size(), 1);
            QCOMPARE(refusals.first().first().toString(), argument);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown action ") + action));
        }
    }
    // The whole text: the status line's tooltip.
    QTRY_COMPARE_WITH_TIMEOUT(rig.controls.statusToolTip, status, 6000);
    QVERIFY2(clock.elapsed() >= atLeastMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(peer.commandTexts(), commands);
    QCOMPARE(rig.controls.colour, connected ? Green : Red);
    QCOMPARE(rig.client.isConnected(), connected);
    QCOMPARE(peer.problems(), QStringList());
    QCOMPARE(peer.accepted(), script.contains(QStringLiteral("reconnect")) ? 2 : 1);
    const bool usb = script.contains(QStringLiteral("listen")) && setup != u"no USB";
    QCOMPARE(peer.mode(), usb ? QStringLiteral("USB") : QStringLiteral("LSB"));
    QCOMPARE(modes.size(), usb ? 1 : 0);
}

void TestProtocols::newestStepAfterAnOutage_data()
{
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<QStringList>("commands");
    const QString chk = QStringLiteral("\\chk_vfo");
    QTest::newRow("rigctld") << Protocol::Rigctld
                             << QStringList{chk, "F 7000000", chk, "F 8000000"};
    QTest::newRow("flrig") << Protocol::Flrig
                           << QStringList{"rig.set_frequency 7000000", "rig.set_frequency 8000000"};
    QTest::newRow("HamRadioDeluxe 5") << Protocol::Hrd
                                      << QStringList{"get context",
                                                     "get radios",
                                                     "get radio",
                                                     "[2] set frequency-hz 7000000",
                                                     "get context",
                                                     "get radios",
                                                     "get radio",
                                                     "[2] set frequency-hz 8000000"};
}

void TestProtocols::newestStepAfterAnOutage()
{
    QFETCH(Protocol, protocol);
    QFETCH(QStringList, commands);
    Peer::RigPeer peer(protocol);
    QVERIFY(peer.listen());
    const quint16 port = peer.port();
    FakeLinkControls controls;
    controls.port = QString::number(port);
    RigClient client;
    RigLink link(controls, client, protocol, ReconnectPolicy(1));
    link.onConnectClicked();
    QTRY_COMPARE(controls.colour, 65280);
    link.SendStep(7'000'000);
    QTRY_COMPARE(peer.commandTexts().size(), commands.size() / 2);

    // The program goes away; the ticks go on while the link waits to try again.
    peer.stopListening();
    peer.closeAll();
    QTRY_COMPARE(link.state(), RigLink::State::WaitingRetry);
    link.SendStep(8'000'000);
    QVERIFY(peer.listen(port));
    QTRY_COMPARE_WITH_TIMEOUT(peer.commandTexts(), commands, 3000);
}

void TestProtocols::realRigctldTunesTheDummyRadio_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("question");
    QTest::newRow("plain") << QStringList() << QByteArray("f\n");
    QTest::newRow("VFO mode (-o)")
        << QStringList{QStringLiteral("-o")} << QByteArray("f currVFO\n");
}

void TestProtocols::realRigctldTunesTheDummyRadio()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, question);
    QProcess rigctld;
    rigctld.setProcessChannelMode(QProcess::ForwardedChannels);
    RigctldClient logger;
    const quint16 port = startRigctld(rigctld, logger, options);
    QVERIFY2(port != 0, "rigctld (Debian's libhamlib-utils) did not start and answer");

    QDateTime now = fixedNoon(); // 21.9 MHz
    WindowUnderTest window([&] { return now; }, Protocol::Rigctld);
    window.controls().port->setText(QString::number(port));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), Green);
    window.controls().Command1->click();
    QTRY_COMPARE(window.statusCaption(), Sending + QStringLiteral("RPRT 0"));
    QTRY_COMPARE_WITH_TIMEOUT(logger.ask(question), QByteArray("21900000"), 15'000);

    // One second later in the sweep the dummy radio follows.
    now = now.addSecs(1);
    QTRY_COMPARE(window.controls().text2->text(), QStringLiteral("22.04 MHz"));
    QTRY_COMPARE_WITH_TIMEOUT(logger.ask(question), QByteArray("22000000"), 15'000);
    QCOMPARE(window.indicatorColour(), Green);
    window.controls().Command1->click();
}

// While listening: after connecting and after reconnecting; the dummy radio starts in FM.
void TestProtocols::realRigctldSetsUpperSideband()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, question);
    const QByteArray vfo = question.mid(1); // "\n" or " currVFO\n"
    QProcess rigctld;
    rigctld.setProcessChannelMode(QProcess::ForwardedChannels);
    RigctldClient logger;
    const quint16 port = startRigctld(rigctld, logger, options);
    QVERIFY2(port != 0, "rigctld (Debian's libhamlib-utils) did not start and answer");
    QCOMPARE(logger.ask("m" + vfo, 2), QByteArray("FM"));

    FakeLinkControls controls;
    controls.port = QString::number(port);
    RigClient client;
    RigLink link(controls, client, Protocol::Rigctld);
    link.setSidebandWanted(true);
    link.onConnectClicked();
    QTRY_COMPARE(controls.colour, Green);
    link.SendStep(7'100'000);
    QTRY_COMPARE_WITH_TIMEOUT(logger.ask("m" + vfo, 2), QByteArray("USB"), 10'000);

    QCOMPARE(logger.ask("M" + vfo.chopped(1) + " LSB 0\n"), QByteArray("RPRT 0"));
    link.onConnectClicked();
    QTRY_COMPARE_WITH_TIMEOUT(logger.ask("m" + vfo, 2), QByteArray("USB"), 10'000);
    QCOMPARE(controls.status, Sending + QStringLiteral("RPRT 0"));
}

namespace {

// An X server of its own for a program that needs one; its display number, or -1.
int startXvfb(QProcess &xvfb)
{
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"),
                QStringLiteral("1"),
                QStringLiteral("-screen"),
                QStringLiteral("0"),
                QStringLiteral("800x600x24"),
                QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForStarted(5000) || !xvfb.waitForReadyRead(10'000))
        return -1;
    bool ok = false;
    const int display = xvfb.readLine().trimmed().toInt(&ok);
    return ok ? display : -1;
}

// Asks flrig over XML-RPC for one method's answer, as text, keeping the window running.
QByteArray askFlrig(quint16 port, const QByteArray &method, const QByteArray &text = {})
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    const QByteArray params = text.isEmpty() ? QByteArray()
                                             : "<params><param><value><string>" + text
                                                   + "</string></value></param>"
                                                     "</params>";
    const QByteArray body = "<?xml version=\"1.0\"?><methodCall><methodName>" + method
                            + "</methodName>" + params + "</methodCall>";
    socket.write("POST /RPC2 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
                 "Content-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray received;
    std::variant<Incomplete, HttpMessage, Malformed> message = Incomplete{};
    const bool answered = QTest::qWaitFor(
        [&] {
            received += socket.readAll();
            QByteArray copy = received;
            message = takeHttpMessage(copy);
            return !std::holds_alternative<Incomplete>(message)
                   || socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    const auto *http = std::get_if<HttpMessage>(&message);
    if (!answered || !http)
        return {};
    const auto response = readXmlRpcResponse(http->body);
    const auto *value = std::get_if<XmlRpcValue>(&response);
    return value ? value->text.toUtf8() : QByteArray();
}

} // namespace

void TestProtocols::realFlrigTunes()
{
    QProcess xvfb;
    const int display = startXvfb(xvfb);
    QVERIFY2(display >= 0, "Xvfb (Debian's xvfb) did not start");

    // flrig's test mode needs no radio; its settings name the version and the XML-RPC port.
    // On a busy port it silently does not listen, so a port taken in between is tried again.
    QProcess version;
    version.start(QStringLiteral("flrig"), {QStringLiteral("--version")});
    QVERIFY2(version.waitForFinished(10'000), "flrig (Debian's flrig) did not run");
    const QByteArray flrigVersion = version.readAll().split(' ').value(1).trimmed();
    QVERIFY2(!flrigVersion.isEmpty(), version.readAll().constData());

    QTemporaryDir config;
    QProcess flrig;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
    flrig.setProcessEnvironment(environment);
    quint16 port = 0;
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
        const quint16 candidate = closedPort();
        QFile prefs(config.filePath(QStringLiteral("NONE.prefs")));
        QVERIFY(prefs.open(QIODevice::WriteOnly));
        prefs.write("; FLTK preferences file format 1.0\n; vendor: w1hkj.com\n; application: NONE\n"
                    "\n[.]\n\nversion:"
                    + flrigVersion + "\nxmlport:" + QByteArray::number(candidate) + "\n");
        prefs.close();
        flrig.start(
            QStringLiteral("flrig"),
            {QStringLiteral("--test"), QStringLiteral("--config-dir"), config.path() + u'/'});
        QVERIFY2(flrig.waitForStarted(5000), "flrig (Debian's flrig) did not start");
        if (QTest::qWaitFor([&] { return !askFlrig(candidate, "rig.get_xcvr").isEmpty(); }, 15'000))
            port = candidate;
        else {
            flrig.kill();
            flrig.waitForFinished();
        }
    }
    QVERIFY2(port != 0, "flrig did not answer on its XML-RPC port");
    QCOMPARE(askFlrig(port, "rig.set_mode", "LSB"), QByteArray("1"));

    QDateTime now = fixedNoon(); // 21.9 MHz
    WindowUnderTest window([&] { return now; }, Protocol::Flrig);
    window.controls().port->setText(QString::number(port));
    window.controls().connect->click();
    QTRY_COMPARE(window.indicatorColour(), Green);
    window.controls().Command1->click();
    QTRY_COMPARE(window.statusCaption(), Sending + QStringLiteral("1"));
    QTRY_COMPARE_WITH_TIMEOUT(askFlrig(port, "rig.get_vfo"), QByteArray("21900000"), 15'000);
    now = now.addSecs(1);
    QTRY_COMPARE_WITH_TIMEOUT(askFlrig(port, "rig.get_vfo"), QByteArray("22000000"), 15'000);
    QCOMPARE(window.indicatorColour(), Green);
    QCOMPARE(askFlrig(port, "rig.get_mode"), QByteArray("LSB"));

    // Listening starts while connected, and again after reconnecting: upper sideband.
    window.rigLink().setSidebandWanted(true);
    QTRY_COMPARE_WITH_TIMEOUT(askFlrig(port, "rig.get_mode"), QByteArray("USB"), 15'000);
    QCOMPARE(askFlrig(port, "rig.set_mode", "LSB"), QByteArray("1"));
    window.controls().disconnect->click();
    window.controls().connect->click();
    QTRY_COMPARE_WITH_TIMEOUT(askFlrig(port, "rig.get_mode"), QByteArray("USB"), 15'000);
    QCOMPARE(window.indicatorColour(), Green);
    window.controls().Command1->click();
    flrig.kill();
    flrig.waitForFinished();
    xvfb.kill();
    xvfb.waitForFinished();
}

void TestProtocols::rigsimSpeaksEveryProtocol_data()
{
    QTest::addColumn<QString>("rig");
    QTest::addColumn<QString>("reply");
    QTest::newRow("hrd-text") << "hrd-text"
                              << "OK\r\n";
    QTest::newRow("hrd") << "hrd"
                         << "OK";
    QTest::newRow("rigctld") << "rigctld"
                             << "RPRT 0";
    QTest::newRow("flrig") << "flrig"
                           << "1";
}

void TestProtocols::rigsimSpeaksEveryProtocol()
{
    QFETCH(QString, rig);
    QFETCH(QString, reply);
    QProcess rigsim;
    const quint16 port = startRigsim(rigsim, {QStringLiteral("--rig"), rig});
    QVERIFY(port != 0);

    LinkRig link({.protocol = *protocolFromOption(rig)}, port);
    QVERIFY(link.connect());
    link.link.SendStep(7'100'000);
    QTRY_COMPARE(link.controls.status, Sending + reply);
    QByteArray printed;
    QTRY_VERIFY2((printed += rigsim.readAllStandardOutput()).contains("7100000"),
                 printed.constData());
    rigsim.kill();
    rigsim.waitForFinished();
}

void TestProtocols::commandLine()
{
    // Without any display: the options are read before the window system is needed.
    QProcess zarvotel;
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    noDisplay.remove(QStringLiteral("DISPLAY"));
    noDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
    noDisplay.remove(QStringLiteral("QT_QPA_PLATFORM"));
    zarvotel.setProcessEnvironment(noDisplay);
    const auto run = [&](const QStringList &arguments) {
        zarvotel.start(QStringLiteral(ZARVOTEL_PATH), arguments);
        return zarvotel.waitForFinished(10'000) && zarvotel.exitStatus() == QProcess::NormalExit;
    };

    QVERIFY(run({QStringLiteral("--rig"), QStringLiteral("bogus")}));
    QCOMPARE(zarvotel.exitCode(), 2);
    QCOMPARE(zarvotel.readAllStandardError(),
             QByteArray("zarvotel: unknown protocol \"bogus\" for --rig; use hrd-text, hrd, "
                        "rigctld or flrig\n"));

    QVERIFY(run({QStringLiteral("--version")}));
    QCOMPARE(zarvotel.exitCode(), 0);
    QVERIFY(zarvotel.readAllStandardOutput().startsWith("zarvotel "));

    QVERIFY(run({QStringLiteral("--help")}));
    QCOMPARE(zarvotel.exitCode(), 0);
    const QByteArray help = zarvotel.readAllStandardOutput();
    for (const char *option : {"--rig <protocol>",
                               "--period <S>",
                               "--chirptime <S>",
                               "--offset <UNITS>",
                               "--host <HOST>",
                               "--port <PORT>",
                               "--connect",
                               "--start",
                               "--reconnect <SECONDS>",
                               "--utc",
                               "--check-clock"})
        QVERIFY2(help.contains(option), option);

    // This machine's own clock: one of the three lines, and the exit status that goes with
    // it, 0 only when synchronised with no bound known above 50 ms.
    QVERIFY(run({QStringLiteral("--check-clock")}));
    const QString said = QString::fromUtf8(zarvotel.readAllStandardOutput());
    qInfo("--check-clock here: %s", qPrintable(said.trimmed()));
    const QRegularExpressionMatch within
        = QRegularExpression(QStringLiteral("^Clock synchronised, within ([0-9]+) ms\n$"))
              .match(said);
    const bool good = said == u"Clock synchronised\n"
                      || (within.hasMatch() && within.captured(1).toInt() <= 50);
    QVERIFY2(good || within.hasMatch() || said == u"Clock state unknown\n"
                 || said == u"Clock not synchronised: the radio may miss the chirp\n",
             qPrintable(said));
    QCOMPARE(zarvotel.exitCode(), good ? 0 : 1);
}

QTEST_MAIN(TestProtocols)
namespace {

// What a server answers to each command, by its first word.
using Answers = QHash<QByteArray, QByteArray>;

// A server of a software radio on 127.0.0.1 that answers each command by its first word as
// answers says: the bytes, nothing when it has none, or "close" to close the connection.
class RigctlServer : public QTcpServer
{
public:
    explicit RigctlServer(const Answers &answers)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, answers] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, answers] {
                while (socket->canReadLine()) {
                    const QByteArray command = socket->readLine().trimmed();
                    commands << QString::fromLatin1(command);
                    const QByteArray answer = answers.value(command.split(' ').first());
                    if (answer == "close")
                        return socket->disconnectFromHost();
                    socket->write(answer);
                }
            });
        });
    }
    QStringList commands;
};

// Debian's Gqrx without radio hardware: a file of zeros in, sound out to a null sink of the
// test's own sound server, its remote control on a free port (it cannot be given port 0).
// The port once it answers, or 0.
quint16 startGqrx(QProcess &gqrx, SoundServer &sound, const QTemporaryDir &home)
{
    if (!sound.start()
        || sound.pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink")}) != 0)
        return 0;
    const QDir dir(home.path());
    QFile zeros(dir.filePath(QStringLiteral("zeros.cf32")));
    QFile conf(dir.filePath(QStringLiteral(".config/gqrx/default.conf")));
    const quint16 port = closedPort();
    if (!dir.mkpath(QStringLiteral(".config/gqrx")) || !zeros.open(QIODevice::WriteOnly)
        || zeros.write(QByteArray(96'000 * 8, '\0')) < 0 || !conf.open(QIODevice::WriteOnly))
        return 0;
    conf.write(QStringLiteral("[General]\nconfigversion=4\ncrashed=false\n[input]\n"
                              "device=\"file=%1,freq=14000000,rate=96000,repeat=true,throttle="
                              "true\"\nsample_rate=96000\nfrequency=14000000\n[remote_control]\n"
                              "enabled=true\nport=%2\nallowed_hosts=127.0.0.1, ::ffff:127.0.0.1\n")
                   .arg(zeros.fileName())
                   .arg(port)
                   .toUtf8());
    conf.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    gqrx.setProcessEnvironment(environment);
    gqrx.start(QStringLiteral("gqrx"), {});
    RigctldClient probe;
    const bool answers
        = gqrx.waitForStarted(5000)
          && QTest::qWaitFor(
              [&] { return gqrx.state() != QProcess::Running || probe.connectTo(port); }, 30'000);
    return answers && gqrx.state() == QProcess::Running ? port : 0;
}

} // namespace

void TestProtocols::rigctlServers_data()
{
    QTest::addColumn<Answers>("answers"); // empty: the real Gqrx
    QTest::addColumn<QString>("refused"); // the sideband's, or empty
    QTest::addColumn<QStringList>("commands");
    const QByteArray ok("RPRT 0\n"), unknown("RPRT 1\n");
    const QStringList all{"\\chk_vfo", "F 7100000", "M USB 0", "F 7200000"};
    QTest::newRow("Gqrx 2.15.9") << Answers() << QString() << QStringList();
    QTest::newRow("Gqrx after 2.15")
        << Answers{{"\\chk_vfo", "0\n"}, {"F", ok}, {"M", ok}} << QString() << all;
    QTest::newRow("SDR++") << Answers{{"\\chk_vfo", "CHKVFO 0\n"}, {"F", ok}, {"M", ok}}
                           << QString() << all;
    QTest::newRow("SDR++ without mode setting")
        << Answers{{"\\chk_vfo", unknown}, {"F", ok}, {"M", unknown}}
        << "The radio did not take upper sideband: RPRT 1 (invalid parameter)" << all;
    QTest::newRow("silent to what it does not know")
        << Answers{{"F", ok}} << "The radio did not take upper sideband: no answer to \"M USB 0\""
        << all;
    // Each connection it closes is made again, and the step goes out again on it.
    QTest::newRow("closes on what it does not know")
        << Answers{{"\\chk_vfo", "close"}, {"F", ok}, {"M", "close"}}
        << "The radio did not take upper sideband: no answer to \"M USB 0\""
        << QStringList{"\\chk_vfo", "F 7100000", "M USB 0", "F 7100000", "F 7200000"};
}

// Listening, two steps: the radio ends on the second, in upper sideband where it can.
void TestProtocols::rigctlServers()
{
    QFETCH(Answers, answers);
    QFETCH(QString, refused);
    QFETCH(QStringList, commands);
    QProcess gqrx;
    SoundServer sound;
    QTemporaryDir home;
    RigctlServer server(answers);
    const quint16 port = answers.isEmpty() ? startGqrx(gqrx, sound, home) : server.serverPort();
    QVERIFY2(port != 0,
             qPrintable("Gqrx (Debian's gqrx-sdr) did not start " + sound.errorString()));

    FakeLinkControls controls;
    controls.port = QString::number(port);
    RigClient client;
    RigLink link(controls, client, Protocol::Rigctld, ReconnectPolicy(1));
    QSignalSpy refusals(&link, &RigLink::sidebandRefused);
    link.setSidebandWanted(true);
    link.onConnectClicked();
    QTRY_COMPARE(controls.colour, Green);
    for (const qint32 stepHz : {7'100'000, 7'200'000}) {
        // The first step's setup (a sideband, a reconnection) is over before the second.
        if (stepHz == 7'200'000 && !answers.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(
                server.commands, commands.mid(0, commands.size() - 1), 10'000);
        controls.status.clear();
        link.SendStep(stepHz);
        QTRY_COMPARE_WITH_TIMEOUT(controls.status, Sending + QStringLiteral("RPRT 0"), 10'000);
    }
    QCOMPARE(refusals.value(0).value(0).toString(), refused);
    QCOMPARE(refusals.size(), refused.isEmpty() ? 0 : 1);
    link.onDisconnectClicked();
    if (answers.isEmpty()) {
        RigctldClient user;
        QVERIFY(user.connectTo(port));
        QCOMPARE(user.ask("f\n"), QByteArray("7200000"));
        QCOMPARE(user.ask("m\n", 2), QByteArray("USB"));
        gqrx.kill();
        gqrx.waitForFinished();
    } else {
        QCOMPARE(server.commands, commands);
    }
}

#include "tst_protocols.moc"
