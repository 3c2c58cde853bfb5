// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "protocol.h"

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

std::optional<QString>
ConnectProblem(const QString &host, const QString &portText, std::optional<qint32> port)
{
    if (host.trimmed().isEmpty())
        return QStringLiteral("Cannot connect: the host is empty.");
    if (!port)
        return QStringLiteral("Cannot connect: port \"%1\" is too large.").arg(portText.left(24));
    if (*port < 1 || *port > 65535)
        return QStringLiteral("Cannot connect: port %1 is not between 1 and 65535.").arg(*port);
    return std::nullopt;
}

QString ConnectedText(const QString &host, qint32 port)
{
    return ConnectedPrefix + host + u':' + QString::number(port);
}

QString DecodeReply(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
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
