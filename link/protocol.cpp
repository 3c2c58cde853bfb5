// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "protocol.h"

#include <QByteArrayList>
#include <QHostAddress>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace Rig {

std::optional<qint32> PortFromText(const QString &text)
{
    QByteArray number;
    bool sign = false, digits = false, point = false;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if ((c == u'+' || c == u'-') && !sign && !digits && !point) {
            sign = true;
            number += char(c.unicode());
        } else if (c >= u'0' && c <= u'9') {
            digits = true;
            number += char(c.unicode());
        } else if (c == u'.' && !point) {
            point = true;
            sign = true;
            number += '.';
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    if (number.startsWith('+'))
        number.remove(0, 1);

    double value = 0;
    // A "." with no digits after it ends the number: from_chars stops before it.
    const auto result = std::from_chars(number.constBegin(), number.constEnd(), value);
    if (result.ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default mode rounds halves to even
    if (rounded < double(std::numeric_limits<qint32>::min())
        || rounded > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return static_cast<qint32>(rounded);
}

bool isHostName(const QString &host)
{
    const QString name = host.trimmed();
    if (name.isEmpty())
        return false;
    // IPv4 only in its dotted-quad form: "10.1" or "2147483648" would be read as numbers.
    if (QHostAddress address; address.setAddress(name))
        return address.protocol() == QAbstractSocket::IPv6Protocol || address.toString() == name;
    const QByteArray ascii = QUrl::toAce(name, QUrl::AceProcessingOption::IgnoreIDNWhitelist);
    if (ascii.isEmpty() || ascii.size() > 253)
        return false;
    const QByteArrayList labels
        = ascii.endsWith('.') ? ascii.chopped(1).split('.') : ascii.split('.');
    for (const QByteArray &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith('-') || label.endsWith('-'))
            return false;
        for (const char c : label) {
            if (!std::isalnum(uchar(c)) && c != '-')
                return false;
        }
    }
    // A resolver reads one to four numbers (decimal, octal or 0x hex) as an IPv4 address.
    const auto isNumber = [](const QByteArray &label) {
        const bool hex
            = label.size() > 1 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X');
        return std::all_of(label.begin() + (hex ? 2 : 0), label.end(), [hex](char c) {
            return hex ? std::isxdigit(uchar(c)) != 0 : std::isdigit(uchar(c)) != 0;
        });
    };
    if (labels.size() <= 4 && std::all_of(labels.begin(), labels.end(), isNumber))
        return false;
    const QByteArray &last = labels.last();
    return !std::all_of(last.begin(), last.end(), [](char c) { return std::isdigit(uchar(c)); });
}

std::optional<StatusText>
ConnectProblem(const QString &host, const QString &portText, std::optional<qint32> port)
{
    if (host.trimmed().isEmpty())
        return StatusText{QStringLiteral("Cannot connect: the host is empty."), {}};
    if (!isHostName(host))
        return StatusText{QStringLiteral("Cannot connect: not a valid host name or address."),
                          QStringLiteral("Cannot connect: \"%1\" is not a valid host name or "
                                         "address.")
                              .arg(shortened(host.trimmed(), 24))};
    if (!port)
        return StatusText{QStringLiteral("Cannot connect: the port is too large."),
                          QStringLiteral("Cannot connect: port \"%1\" is too large.")
                              .arg(shortened(portText, 24))};
    if (*port < 1 || *port > 65535)
        return StatusText{QStringLiteral("Cannot connect: port %1 is not 1 to 65535.").arg(*port),
                          {}};
    return std::nullopt;
}

QString shortened(const QString &text, qsizetype max)
{
    return text.size() > max ? text.left(max) + QChar(0x2026) : text;
}

QString ConnectedText(const QString &host, qint32 port)
{
    return ConnectedPrefix + host + u':' + QString::number(port);
}

QString ReplyDecoder::decode(const QByteArray &bytes)
{
    QByteArray data = std::exchange(m_pending, QByteArray()) + bytes;
    // From the last byte that starts a sequence: if fewer bytes follow than it announces,
    // they wait for the next piece. What comes before it decodes the same either way.
    for (qsizetype i = data.size() - 1, seen = 1; i >= 0 && seen <= 4; --i, ++seen) {
        const auto byte = uchar(data[i]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte
        const qsizetype length = byte >= 0xF0 && byte <= 0xF4  ? 4
                                 : byte >= 0xE0 && byte < 0xF0 ? 3
                                 : byte >= 0xC2 && byte < 0xE0 ? 2
                                                               : 1;
        if (length > seen) {
            m_pending = data.mid(i);
            data.truncate(i);
        }
        break;
    }
    return QString::fromUtf8(data);
}

} // namespace Rig
