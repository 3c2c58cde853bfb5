// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "flrig.h"

#include <QHostAddress>
#include <QXmlStreamReader>

#include <utility>

namespace Rig {

std::variant<Incomplete, HttpMessage, Malformed> takeHttpMessage(QByteArray &buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return buffer.size() > MaxReplyBytes ? decltype(takeHttpMessage(buffer))(Malformed{})
                                             : Incomplete{};
    HttpMessage message;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    message.startLine = lines.value(0).trimmed();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            message.contentLength = lines[i].mid(colon + 1).trimmed().toLongLong(&ok);
            if (!ok)
                return Malformed{};
        }
    }
    if (message.contentLength < 0 || message.contentLength > MaxReplyBytes)
        return Malformed{};
    const qsizetype total = headerEnd + 4 + message.contentLength;
    if (buffer.size() < total)
        return Incomplete{};
    message.body = buffer.mid(headerEnd + 4, message.contentLength);
    buffer.remove(0, total);
    return message;
}

namespace {

// The value whose <value> start the reader stands on, read through its </value>.
std::optional<XmlRpcValue> readValue(QXmlStreamReader &xml)
{
    QString loose;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters()) {
            loose += xml.text();
        } else if (xml.isEndElement()) {
            return XmlRpcValue{QStringLiteral("string"), loose}; // <value>text</value>
        } else if (xml.isStartElement()) {
            const QString type = xml.name().toString();
            if (type != u"i4" && type != u"int" && type != u"boolean" && type != u"double"
                && type != u"string")
                return std::nullopt;
            XmlRpcValue value{type, xml.readElementText()};
            xml.skipCurrentElement(); // through </value>
            if (xml.hasError())
                return std::nullopt;
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

std::variant<XmlRpcValue, XmlRpcFault, Malformed> readXmlRpcResponse(const QByteArray &body)
{
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || xml.name() != u"methodResponse"
        || !xml.readNextStartElement())
        return Malformed{};
    if (xml.name() == u"params") {
        if (!xml.readNextStartElement() || xml.name() != u"param" || !xml.readNextStartElement()
            || xml.name() != u"value")
            return Malformed{};
        if (const auto value = readValue(xml))
            return *value;
        return Malformed{};
    }
    if (xml.name() != u"fault")
        return Malformed{};
    // <fault><value><struct><member><name>faultString</name><value>...</value></member>...
    QString name;
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"name") {
            name = xml.readElementText().trimmed();
        } else if (xml.name() == u"value" && name == u"faultString") {
            if (const auto value = readValue(xml))
                return XmlRpcFault{value->text};
            return Malformed{};
        }
    }
    return Malformed{};
}

std::optional<QStringList> readXmlRpcStrings(const QByteArray &body)
{
    // <methodResponse><params><param><value><array><data><value>LSB</value>...
    QXmlStreamReader xml(body);
    QStringList strings;
    bool inData = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == u"data")
            return strings;
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"fault")
            return std::nullopt;
        if (xml.name() == u"data") {
            inData = true;
        } else if (inData && xml.name() == u"value") {
            const auto value = readValue(xml);
            if (!value || value->type != u"string")
                return std::nullopt;
            strings << value->text;
        }
    }
    return std::nullopt;
}

QByteArray httpHost(const QString &host, quint16 port)
{
    const QString name = host.trimmed();
    const QHostAddress address(name);
    const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (ipv6 ? '[' + name.toUtf8() + ']' : name.toUtf8()) + ':' + QByteArray::number(port);
}

namespace {

class FlrigConversation final : public Conversation
{
public:
    FlrigConversation(const QString &host, quint16 port)
        : m_host(httpHost(host, port))
    {}

    QByteArray stepCommand(qint32 hz) const override
    {
        return call("rig.set_frequency", "<double>" + QByteArray::number(hz) + "</double>");
    }

    QByteArray sidebandCommand() override
    {
        m_askingModes = true;
        return call("rig.get_modes");
    }

    Answer takeAnswer(QByteArray &buffer) override
    {
        const auto message = takeHttpMessage(buffer);
        if (std::holds_alternative<Incomplete>(message))
            return Incomplete{};
        if (std::holds_alternative<Malformed>(message))
            return Malformed{};
        return answerTo(std::get<HttpMessage>(message), QStringLiteral("flrig did not tune: "));
    }

    Answer takeSidebandAnswer(QByteArray &buffer) override
    {
        const auto message = takeHttpMessage(buffer);
        if (std::holds_alternative<Incomplete>(message))
            return Incomplete{};
        if (std::holds_alternative<Malformed>(message))
            return Malformed{};
        const HttpMessage &http = std::get<HttpMessage>(message);
        if (!std::exchange(m_askingModes, false)) {
            const Answer answer = answerTo(http, SidebandRefusedPrefix);
            // flrig 1.4 answers an empty value to a mode that is not the radio's.
            if (const auto *reply = std::get_if<Reply>(&answer);
                reply && reply->tuned && reply->text != u"1")
                return Reply{false, SidebandRefusedPrefix + u'"' + reply->text + u'"', {}};
            return answer;
        }
        // A list without upper sideband ends the errand; no list at all, and "USB" is tried.
        const std::optional<QStringList> modes
            = http.startLine.contains(" 200 ") ? readXmlRpcStrings(http.body) : std::nullopt;
        const std::optional<QString> mode
            = modes ? upperSidebandMode(*modes) : QStringLiteral("USB");
        if (!mode)
            return Reply{false,
                         SidebandRefusedPrefix + QStringLiteral("flrig lists no USB mode"),
                         SidebandRefusedPrefix
                             + QStringLiteral("flrig lists no USB mode for the radio (")
                             + modes->join(QStringLiteral(", ")) + u')'};
        return SetupNext{
            call("rig.set_mode", "<string>" + mode->toHtmlEscaped().toUtf8() + "</string>")};
    }

private:
    // A POST of methodName with one parameter, given as its typed XML, or none.
    QByteArray call(const QByteArray &method, const QByteArray &parameter = {}) const
    {
        const QByteArray params = parameter.isEmpty() ? QByteArray()
                                                      : "<params><param><value>" + parameter
                                                            + "</value></param></params>";
        const QByteArray body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>" + method
                                + "</methodName>" + params + "</methodCall>\r\n";
        return "POST /RPC2 HTTP/1.1\r\nHost: " + m_host
               + "\r\nUser-Agent: Zarvotel\r\nContent-Type: text/xml\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }

    // What a response to a command means; notDone goes before the reason it was not done.
    static Answer answerTo(const HttpMessage &http, const QString &notDone)
    {
        const QList<QByteArray> status = http.startLine.split(' ');
        if (status.size() < 2 || !status[0].startsWith("HTTP/"))
            return Malformed{};
        if (status[1] != "200")
            return Reply{false, notDone + QString::fromLatin1(http.startLine), {}};

        const auto response = readXmlRpcResponse(http.body);
        if (const auto *fault = std::get_if<XmlRpcFault>(&response))
            return Reply{false, notDone + fault->words, {}};
        const auto *value = std::get_if<XmlRpcValue>(&response);
        if (!value)
            return Reply{false, QStringLiteral("flrig sent an answer that is not understood."), {}};
        // flrig answers 0 only when it has no transceiver online, or its XML-RPC control of
        // the radio is turned off.
        const bool whole
            = value->type == u"i4" || value->type == u"int" || value->type == u"boolean";
        if (whole && value->text.trimmed() == u"0")
            return Reply{false,
                         notDone + QStringLiteral("no transceiver online"),
                         notDone
                             + QStringLiteral("no transceiver is online in flrig, or its "
                                              "XML-RPC control is turned off.")};
        return Reply{true, value->text, {}};
    }

    QByteArray m_host;
    bool m_askingModes = false;
};

} // namespace

std::unique_ptr<Conversation> newFlrigConversation(const QString &host, quint16 port)
{
    return std::make_unique<FlrigConversation>(host, port);
}

} // namespace Rig
