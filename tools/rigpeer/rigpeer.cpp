// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigpeer.h"

#include "flrig.h"
#include "hrdframes.h"

#include <QTcpSocket>
#include <QXmlStreamReader>

#include <cmath>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace Peer {
namespace {

constexpr qsizetype MaxCommandBytes = 64 * 1024; // a command that never ends is not kept

QByteArray httpResponse(const QByteArray &xml)
{
    return "HTTP/1.1 200 OK\r\nServer: rigpeer\r\nContent-Type: text/xml\r\nContent-length: "
           + QByteArray::number(xml.size()) + "\r\n\r\n" + xml;
}

QByteArray xmlRpcValue(const QByteArray &value)
{
    return "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param><value>" + value
           + "</value></param></params></methodResponse>\r\n";
}

QByteArray xmlRpcFault(const QByteArray &words)
{
    return "<?xml version=\"1.0\"?>\r\n<methodResponse><fault><value><struct><member><name>"
           "faultCode</name><value><int>1</int></value></member><member><name>faultString"
           "</name><value><string>"
           + words + "</string></value></member></struct></value></fault></methodResponse>\r\n";
}

// An XML-RPC call: the method's name and the text of each parameter's value.
struct MethodCall
{
    QString method;
    QStringList params;
};

std::optional<MethodCall> readMethodCall(const QByteArray &body)
{
    QXmlStreamReader xml(body);
    MethodCall call;
    bool inValue = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"methodName") {
            call.method = xml.readElementText();
        } else if (xml.name() == u"value") {
            inValue = true;
        } else if (inValue) {
            call.params << xml.readElementText(); // the typed element: <double>, <i4>, ...
            inValue = false;
        }
    }
    if (xml.hasError() || call.method.isEmpty())
        return std::nullopt;
    return call;
}

// A frequency from 0 Hz to 1 THz, in decimal (a fraction is rounded to the hertz).
std::optional<qint64> hertz(const QString &text)
{
    bool ok = false;
    const double hz = text.toDouble(&ok);
    if (!ok || !(hz >= 0 && hz <= 1e12))
        return std::nullopt;
    return qint64(std::llround(hz));
}

} // namespace

std::optional<qint64> frequencyHz(Dialect dialect, const QString &text, bool vfoMode)
{
    QStringList words = text.simplified().split(u' ');
    switch (dialect) {
    case Dialect::Hrd:
        // "[1] set frequency-hz 7100000": the radio's context first.
        if (words.first().startsWith(u'[') && words.first().endsWith(u']'))
            words.removeFirst();
        Q_FALLTHROUGH();
    case Dialect::HrdText:
        if (words.size() != 3 || words[0] != u"set" || words[1] != u"frequency-hz")
            return std::nullopt;
        return hertz(words[2]);
    case Dialect::Rigctld:
        // rigctld -o takes the VFO first, and without -o takes no VFO.
        if (words.size() != (vfoMode ? 3 : 2) || words[0] != u"F"
            || (vfoMode && words[1] != u"currVFO"))
            return std::nullopt;
        return hertz(words.last());
    case Dialect::Flrig:
        if (words.size() != 2 || words[0] != u"rig.set_frequency")
            return std::nullopt;
        return hertz(words[1]);
    }
    return std::nullopt;
}

// One accepted connection: takes the commands from its stream and hands them to the peer.
class RigPeer::Conversation : public QObject
{
public:
    Conversation(RigPeer &peer, QTcpSocket *socket)
        : QObject(socket)
        , m_peer(peer)
        , m_socket(socket)
    {
        connect(socket, &QTcpSocket::readyRead, this, &Conversation::read);
        if (peer.m_behaviour == Behaviour::Stall)
            socket->setReadBufferSize(1);
    }

private:
    void read()
    {
        if (m_peer.m_behaviour == Behaviour::Stall) {
            m_socket->setReadBufferSize(1); // the kernel's buffers fill from here on
            return;
        }
        const QByteArray bytes = m_socket->readAll();
        m_peer.m_received += bytes;
        m_buffer += bytes;
        while (m_socket->state() == QAbstractSocket::ConnectedState && takeOne()) {
        }
        if (m_buffer.size() > MaxCommandBytes)
            drop(QStringLiteral("more than 64 KiB without a whole command"));
    }

    // Takes one whole command from the front of the buffer; false when none is there.
    bool takeOne()
    {
        switch (Rig::rigProgram(m_peer.m_dialect).framing) {
        case Rig::Framing::Lines:
            return takeLine();
        case Rig::Framing::Frames:
            return takeFrame();
        case Rig::Framing::Http:
            return takeRequest();
        }
        return false;
    }

    // One message cut from the front of the buffer by the client's own framing function, and
    // its bytes; nothing while it is incomplete. What is no message at all drops the
    // connection, saying why (and noting the problem, when one is given).
    template<typename Message, typename Framing>
    std::optional<std::pair<Message, QByteArray>>
    takeMessage(Framing framing, const QString &why, const QString &problem = {})
    {
        const QByteArray before = m_buffer;
        const auto taken = framing(m_buffer);
        if (std::holds_alternative<Rig::Malformed>(taken)) {
            if (!problem.isEmpty())
                m_peer.m_problems << problem;
            drop(why);
        }
        if (!std::holds_alternative<Message>(taken))
            return std::nullopt;
        return std::pair{std::get<Message>(taken), before.left(before.size() - m_buffer.size())};
    }

    bool takeLine()
    {
        const auto taken
            = takeMessage<QByteArray>(&Rig::takeLine, QStringLiteral("a line longer than 1 KiB"));
        if (!taken)
            return false;
        Command command{QString::fromUtf8(taken->first), taken->second, {}};
        const QByteArray line = command.raw.simplified();
        static const QByteArray set("set frequency-hz ");
        if (line.startsWith(set)) {
            respond(command, set.trimmed(), line.mid(set.size()));
            return true;
        }
        QList<QByteArray> words = line.split(' ');
        static const QByteArrayList vfoCommands{"F", "f", "M", "m"};
        if (m_peer.m_dialect == Dialect::Rigctld && vfoCommands.contains(words[0])) {
            const bool namesVfo = words.value(1) == "currVFO";
            if (m_peer.m_vfoMode && !namesVfo && (words[0] == "F" || words[0] == "M")) {
                // rigctld in VFO mode reads the first argument as a VFO and waits for more.
                command.taken = QDateTime::currentDateTime();
                m_peer.m_commands << command;
                Q_EMIT m_peer.commandTaken(command);
                return true;
            }
            if (namesVfo != m_peer.m_vfoMode)
                words[0] = "invalid VFO";
            else if (namesVfo)
                words.removeAt(1);
        }
        respond(command, words.value(0), words.value(1));
        return true;
    }

    bool takeFrame()
    {
        const auto taken
            = takeMessage<QString>(&Rig::takeHrdFrame, QStringLiteral("a frame with a bad header"));
        if (!taken)
            return false;
        const QString &text = taken->first;
        Command command{text, taken->second, {}};
        // "[1] set frequency-hz 7100000": the context, then the command and its argument.
        QString words = text;
        if (words.startsWith(u'[') && words.contains(u']'))
            words = words.mid(words.indexOf(u']') + 1).trimmed();
        const qsizetype lastBlank = words.lastIndexOf(u' ');
        if (words.startsWith(u"set dropdown ")) {
            // "set dropdown Mode USB 1": the control, the item ("~" for blanks), its place.
            const QString item = words.section(u' ', 3, 3).replace(u'~', u' ');
            respond(command, "set dropdown", item.toUtf8());
            return true;
        }
        const bool isSet = words.startsWith(u"set frequency-hz ");
        respond(command,
                isSet ? QByteArray("set frequency-hz") : words.toUtf8(),
                isSet ? words.mid(lastBlank + 1).toUtf8() : QByteArray());
        return true;
    }

    bool takeRequest()
    {
        const auto taken
            = takeMessage<Rig::HttpMessage>(&Rig::takeHttpMessage,
                                            QStringLiteral("a request without a usable "
                                                           "Content-Length"),
                                            QStringLiteral("no usable Content-Length"));
        if (!taken)
            return false;
        const Rig::HttpMessage &request = taken->first;
        const QByteArray &raw = taken->second;
        const QByteArray &body = request.body;
        if (request.startLine != "POST /RPC2 HTTP/1.1")
            m_peer.m_problems << QStringLiteral("request line ")
                                     + QString::fromLatin1(request.startLine);
        if (!raw.left(raw.indexOf('\n')).endsWith('\r'))
            m_peer.m_problems << QStringLiteral("header lines must end in CR LF");
        const std::optional<MethodCall> call = readMethodCall(body);
        if (!call) {
            m_peer.m_problems << QStringLiteral("body is no XML-RPC call");
            m_socket->write(httpResponse(xmlRpcFault("not an XML-RPC call")));
            return true;
        }
        Command command{(QStringList{call->method} + call->params).join(u' '), raw, {}};
        respond(command, call->method.toUtf8(), call->params.value(0).toUtf8());
        return true;
    }

    void respond(Command &command, const QByteArray &name, const QByteArray &argument)
    {
        command.taken = QDateTime::currentDateTime();
        m_peer.m_commands << command;
        Q_EMIT m_peer.commandTaken(command);
        if (isFrequencyCommand(name) && !argument.isEmpty()
            && m_peer.m_behaviour != Behaviour::Refuse)
            m_peer.m_frequency = argument;
        if ((name == "M" || name == "rig.set_mode" || name == "set dropdown") && !argument.isEmpty()
            && m_peer.m_behaviour != Behaviour::Refuse && !m_peer.m_refusesMode)
            m_peer.setMode(QString::fromUtf8(argument));
        switch (m_peer.m_behaviour) {
        case Behaviour::Silent:
        case Behaviour::Stall:
            return;
        case Behaviour::Close:
            m_socket->disconnectFromHost();
            return;
        case Behaviour::Reset:
            m_peer.resetSocket(m_socket);
            return;
        case Behaviour::Answer:
        case Behaviour::Refuse:
            break;
        }
        const QByteArray answer = m_peer.answerFor(name, argument);
        if (answer.isEmpty())
            return;
        if (m_peer.m_holding && (isFrequencyCommand(name) || name == "M" || name == "rig.set_mode"))
            m_peer.m_held.append({m_socket, answer});
        else
            m_socket->write(answer);
    }

    bool isFrequencyCommand(const QByteArray &name) const
    {
        return name == "set frequency-hz" || name == "F" || name == "rig.set_frequency";
    }

    void drop(const QString &why)
    {
        Q_EMIT m_peer.dropped(why);
        m_buffer.clear();
        m_socket->abort();
    }

    RigPeer &m_peer;
    QTcpSocket *m_socket;
    QByteArray m_buffer;
};

RigPeer::RigPeer(Dialect dialect, Behaviour behaviour, QObject *parent)
    : QObject(parent)
    , m_dialect(dialect)
    , m_behaviour(behaviour)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RigPeer::accept);
}

RigPeer::~RigPeer()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->disconnect(this);
    }
}

bool RigPeer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void RigPeer::accept()
{
    m_sockets.removeIf([](const QPointer<QTcpSocket> &socket) { return socket.isNull(); });
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        m_sockets << socket;
        ++m_accepted;
        new Conversation(*this, socket);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            socket->deleteLater();
            Q_EMIT connectionEnded();
        });
        Q_EMIT connectionAccepted(
            QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
    }
}

QByteArray RigPeer::answerFor(const QByteArray &name, const QByteArray &argument)
{
    const bool refuse = m_behaviour == Behaviour::Refuse;
    switch (m_dialect) {
    case Dialect::HrdText:
        return (refuse               ? QByteArray("ERROR")
                : m_answer.isEmpty() ? QByteArray("OK")
                                     : m_answer)
               + "\r\n";
    case Dialect::Hrd:
        if (name == "get context")
            return Rig::hrdFrame(QStringLiteral("1"));
        if (name == "get radios")
            return Rig::hrdFrame(m_radios);
        if (name == "get radio")
            return Rig::hrdFrame(m_currentRadio);
        if (name == "get dropdowns")
            return Rig::hrdFrame(QStringLiteral("AGC,Mode,Filter"));
        if (name == "get dropdown-list {Mode}")
            return Rig::hrdFrame(QStringLiteral("LSB,USB,CW,AM,FM"));
        if (name == "set dropdown")
            return Rig::hrdFrame(refuse || m_refusesMode ? QStringLiteral("Unknown command")
                                                         : QStringLiteral("OK"));
        if (name != "set frequency-hz")
            return Rig::hrdFrame(QStringLiteral("Unknown command"));
        return Rig::hrdFrame(
            refuse ? QStringLiteral("Unknown command")
                   : QString::fromUtf8(m_answer.isEmpty() ? QByteArray("OK") : m_answer));
    case Dialect::Rigctld:
        if (name == "F" && !argument.isEmpty()) {
            if (refuse)
                return "RPRT -9\n";
            return (m_answer.isEmpty() ? QByteArray("RPRT 0") : m_answer) + '\n';
        }
        if (name == "f")
            return m_frequency + '\n';
        if (name == "M" && !argument.isEmpty())
            return refuse || m_refusesMode ? "RPRT -11\n" : "RPRT 0\n";
        if (name == "m")
            return m_mode.toUtf8() + "\n2400\n"; // the mode and its passband in hertz
        if (name == "\\chk_vfo")
            return m_vfoMode ? "1\n" : "0\n";
        if (name == "invalid VFO")
            return "RPRT -1\n";
        return "RPRT -11\n";
    case Dialect::Flrig:
        break;
    }
    if (name == "rig.set_frequency") {
        if (refuse)
            return httpResponse(xmlRpcFault("radio not connected"));
        return httpResponse(xmlRpcValue(m_answer.isEmpty() ? QByteArray("<i4>1</i4>") : m_answer));
    }
    if (name == "rig.get_vfo")
        return httpResponse(xmlRpcValue("<string>" + m_frequency + "</string>"));
    if (name == "rig.get_modes")
        return httpResponse(xmlRpcValue(
            "<array><data><value>LSB</value><value>USB</value><value>CW</value></data></array>"));
    if (name == "rig.get_mode")
        return httpResponse(xmlRpcValue(m_mode.toHtmlEscaped().toUtf8()));
    if (name == "rig.set_mode") {
        if (refuse || m_refusesMode)
            return httpResponse(xmlRpcFault("mode not available"));
        return httpResponse(xmlRpcValue("<i4>1</i4>"));
    }
    return httpResponse(xmlRpcFault("unknown method"));
}

void RigPeer::setMode(const QString &mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    Q_EMIT modeChanged(mode);
}

void RigPeer::releaseAnswers()
{
    m_holding = false;
    for (const auto &[socket, answer] : std::as_const(m_held)) {
        if (socket)
            socket->write(answer);
    }
    m_held.clear();
}

void RigPeer::send(const QByteArray &bytes)
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket) {
            socket->write(bytes);
            socket->flush();
        }
    }
}

void RigPeer::closeAll()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->close();
    }
}

void RigPeer::halfCloseAll()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (!socket)
            continue;
        socket->flush();
#if defined(Q_OS_WIN)
        ::shutdown(SOCKET(socket->socketDescriptor()), SD_SEND);
#else
        ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
#endif
    }
}

void RigPeer::resetAll()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            resetSocket(socket);
    }
}

void RigPeer::resetSocket(QTcpSocket *socket)
{
    // Lingering with a zero timeout makes the close a reset.
    const linger hard{1, 0};
#if defined(Q_OS_WIN)
    ::setsockopt(SOCKET(socket->socketDescriptor()),
                 SOL_SOCKET,
                 SO_LINGER,
                 reinterpret_cast<const char *>(&hard),
                 sizeof hard);
#else
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
    socket->abort();
}

QStringList RigPeer::commandTexts() const
{
    QStringList texts;
    for (const Command &command : m_commands)
        texts << command.text;
    return texts;
}

QList<QByteArray> RigPeer::lines() const
{
    QList<QByteArray> all = m_received.split('\n');
    all.removeLast();
    for (QByteArray &line : all)
        line += '\n';
    return all;
}

int RigPeer::open() const
{
    int count = 0;
    for (const auto &socket : m_sockets)
        count += socket && socket->state() == QAbstractSocket::ConnectedState;
    return count;
}

} // namespace Peer
