#include "rigprotocols.h"

#include <QByteArrayList>
#include <QtEndian>

#include <array>

namespace Rig {
namespace {

struct ProtocolFacts
{
    Protocol protocol;
    const char *option;
    const char *program;
    quint16 port;
};

constexpr std::array<ProtocolFacts, 4> Facts{{
    {Protocol::HrdText, "hrd-text", "HamRadioDeluxe", 7809},
    {Protocol::Hrd, "hrd", "HamRadioDeluxe", 7809},
    {Protocol::Rigctld, "rigctld", "rigctld", 4532},
    {Protocol::Flrig, "flrig", "flrig", 12345},
}};

const ProtocolFacts &factsOf(Protocol protocol)
{
    return Facts[std::size_t(protocol)];
}

ReplyParse takeRigctldReply(QByteArray &buffer)
{
    // Lines other than "RPRT n" (an echo, extended output) are passed over.
    for (;;) {
        const qsizetype end = buffer.indexOf('\n');
        if (end < 0)
            return buffer.size() > 1024 ? ReplyParse(Malformed{}) : ReplyParse(Incomplete{});
        const QByteArray line = buffer.left(end).trimmed();
        buffer.remove(0, end + 1);
        if (!line.startsWith("RPRT "))
            continue;
        bool ok = false;
        const int code = line.mid(5).trimmed().toInt(&ok);
        if (!ok)
            return Malformed{};
        const QString raw = QString::fromLatin1(line);
        if (code == 0)
            return Reply{true, raw, raw};
        return Reply{false,
                     QStringLiteral("rigctld did not tune: %1 (%2)").arg(raw, hamlibErrorText(code)),
                     raw};
    }
}

// The text between <tag> and </tag> after position from, or nothing.
std::optional<QByteArray> element(const QByteArray &xml, const char *tag, qsizetype from = 0)
{
    const QByteArray open = QByteArray("<") + tag + '>';
    const QByteArray close = QByteArray("</") + tag + '>';
    const qsizetype start = xml.indexOf(open, from);
    if (start < 0)
        return std::nullopt;
    const qsizetype end = xml.indexOf(close, start + open.size());
    if (end < 0)
        return std::nullopt;
    return xml.mid(start + open.size(), end - start - open.size()).trimmed();
}

ReplyParse takeFlrigReply(QByteArray &buffer)
{
    const auto message = takeHttpMessage(buffer);
    if (std::holds_alternative<Incomplete>(message))
        return Incomplete{};
    if (std::holds_alternative<Malformed>(message))
        return Malformed{};
    const HttpMessage &http = std::get<HttpMessage>(message);
    const QList<QByteArray> status = http.startLine.split(' ');
    if (status.size() < 2 || !status[0].startsWith("HTTP/"))
        return Malformed{};
    if (status[1] != "200") {
        const QString raw = QString::fromLatin1(http.startLine);
        return Reply{false, QStringLiteral("flrig did not tune: ") + raw, raw};
    }
    if (http.body.contains("<fault>")) {
        const qsizetype name = http.body.indexOf("faultString");
        QByteArray words = name >= 0 ? element(http.body, "value", name).value_or(QByteArray())
                                     : QByteArray();
        if (const auto string = element(words, "string"))
            words = *string;
        const QString raw = QString::fromUtf8(words);
        return Reply{false, QStringLiteral("flrig did not tune: ") + raw, raw};
    }
    std::optional<QByteArray> value = element(http.body, "i4");
    if (!value)
        value = element(http.body, "int");
    if (!value)
        value = element(http.body, "boolean");
    const QString raw = QString::fromUtf8(value.value_or(QByteArray("OK")));
    if (value && value->toInt() == 0)
        return Reply{false, QStringLiteral("flrig did not tune: the radio refused the frequency"), raw};
    return Reply{true, raw, raw};
}

} // namespace

QString protocolOption(Protocol protocol)
{
    return QString::fromLatin1(factsOf(protocol).option);
}

std::optional<Protocol> protocolFromOption(const QString &option)
{
    for (const ProtocolFacts &facts : Facts) {
        if (option == QLatin1StringView(facts.option))
            return facts.protocol;
    }
    return std::nullopt;
}

QString programName(Protocol protocol)
{
    return QString::fromLatin1(factsOf(protocol).program);
}

quint16 defaultPort(Protocol protocol)
{
    return factsOf(protocol).port;
}

QString sendFailedText(Protocol protocol)
{
    return QStringLiteral("Ready to connect, %1 needs to be running.").arg(programName(protocol));
}

QByteArray hrdFrame(const QString &text)
{
    QByteArray payload(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        for (qsizetype i = 0; i + 1 < payload.size(); i += 2)
            std::swap(payload[i], payload[i + 1]);
    }
    payload.append(2, '\0');
    QByteArray frame(HrdHeaderBytes, '\0');
    qToLittleEndian<quint32>(quint32(HrdHeaderBytes + payload.size()), frame.data());
    qToLittleEndian<quint32>(HrdMagic1, frame.data() + 4);
    qToLittleEndian<quint32>(HrdMagic2, frame.data() + 8);
    return frame + payload;
}

std::variant<Incomplete, QString, Malformed> takeHrdFrame(QByteArray &buffer)
{
    if (buffer.size() < HrdHeaderBytes)
        return Incomplete{};
    const quint32 size = qFromLittleEndian<quint32>(buffer.constData());
    if (qFromLittleEndian<quint32>(buffer.constData() + 4) != HrdMagic1
        || qFromLittleEndian<quint32>(buffer.constData() + 8) != HrdMagic2
        || size < quint32(HrdHeaderBytes) || size > quint32(MaxReplyBytes) || size % 2 != 0)
        return Malformed{};
    if (buffer.size() < qsizetype(size))
        return Incomplete{};
    QString text;
    for (qsizetype i = HrdHeaderBytes; i + 1 < qsizetype(size); i += 2) {
        const char16_t unit = qFromLittleEndian<quint16>(buffer.constData() + i);
        if (unit == 0)
            break;
        text += QChar(unit);
    }
    buffer.remove(0, size);
    return text;
}

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

QByteArray setFrequencyCommand(Protocol protocol, qint32 hz, const QString &context,
                               const QString &host, quint16 port)
{
    const QByteArray digits = QByteArray::number(hz);
    switch (protocol) {
    case Protocol::HrdText:
        return "set frequency-hz " + digits + "\r\n";
    case Protocol::Hrd:
        return hrdFrame(u'[' + context + QLatin1StringView("] set frequency-hz ")
                        + QString::fromLatin1(digits));
    case Protocol::Rigctld:
        return "F " + digits + '\n';
    case Protocol::Flrig:
        break;
    }
    const QByteArray body = "<?xml version=\"1.0\"?>\r\n<methodCall><methodName>rig.set_frequency"
                            "</methodName><params><param><value><double>"
                            + digits + "</double></value></param></params></methodCall>\r\n";
    return "POST /RPC2 HTTP/1.1\r\nHost: " + host.trimmed().toUtf8() + ':'
           + QByteArray::number(port)
           + "\r\nUser-Agent: Zarvotel\r\nContent-Type: text/xml\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

ReplyParse takeReply(Protocol protocol, QByteArray &buffer)
{
    switch (protocol) {
    case Protocol::HrdText:
        break;
    case Protocol::Hrd: {
        const auto frame = takeHrdFrame(buffer);
        if (std::holds_alternative<Incomplete>(frame))
            return Incomplete{};
        if (std::holds_alternative<Malformed>(frame))
            return Malformed{};
        const QString raw = std::get<QString>(frame);
        if (raw.trimmed().compare(QLatin1StringView("OK"), Qt::CaseInsensitive) == 0)
            return Reply{true, raw, raw};
        return Reply{false, QStringLiteral("HamRadioDeluxe did not tune: ") + raw, raw};
    }
    case Protocol::Rigctld:
        return takeRigctldReply(buffer);
    case Protocol::Flrig:
        return takeFlrigReply(buffer);
    }
    // Plain text replies are shown as they come and never taken apart.
    const QString raw = QString::fromUtf8(buffer);
    buffer.clear();
    return Reply{true, raw, raw};
}

QString hamlibErrorText(int code)
{
    static const char *const texts[] = {
        "success",
        "invalid parameter",
        "invalid configuration",
        "memory shortage",
        "function not implemented",
        "communication timed out",
        "input/output error",
        "internal Hamlib error",
        "protocol error",
        "command rejected by the rig",
        "command performed, but argument truncated",
        "function not available",
        "VFO not targetable",
        "error talking on the bus",
        "collision on the bus",
        "invalid rig handle",
        "invalid VFO",
        "argument out of domain of function",
    };
    // Hamlib writes its codes negative; older versions wrote them positive. The code comes
    // from the network, so it is range-checked before it is negated or indexes anything.
    constexpr int count = int(std::size(texts));
    if (code > -count && code < count)
        return QString::fromLatin1(texts[code < 0 ? -code : code]);
    return QStringLiteral("error %1").arg(code);
}

} // namespace Rig
