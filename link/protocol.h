// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace Rig {

// Status line texts, exactly as the user reads them.
inline const QString ConnectedPrefix = QStringLiteral("Succeeded connection to: ");
inline const QString ReplyPrefix = QStringLiteral(" Sending Frequency step to Radio..... ");
inline const QString DisconnectedText = QStringLiteral("Disconnected");

// A status line text of Zarvotel's own: a caption that fits the line, and the whole text for
// its tooltip where the caption is a short form (empty when the caption says it all).
struct StatusText
{
    QString caption;
    QString whole;
    friend bool operator==(const StatusText &, const StatusText &) = default;
};

// Indicator colours: 24-bit RGB, red in the low byte.
inline constexpr qint32 IndicatorRed = 255;
inline constexpr qint32 IndicatorGreen = 65280;

// The port text read by the leading-number rule: blanks, tabs and line feeds anywhere are
// skipped; an optional sign, digits and at most one "." with more digits are read from the
// start; reading stops at the first character that does not fit; no number reads as 0.
// Rounded half to even. Empty when the number does not fit a 32-bit signed integer.
std::optional<qint32> PortFromText(const QString &text);

// Whether host, without its surrounding blanks, can be tried: an IPv6 address, an IPv4
// address as four decimal numbers, or a DNS name whose ASCII form has labels of letters,
// digits and inner hyphens, and a last label that is not all digits; no more than four
// numbers either ("10.1", "2147483648" and "0x12C" are IPv4 addresses to a resolver).
bool isHostName(const QString &host);

// Why a connection to host and port cannot be attempted, or empty when it can: nothing that
// is refused here reaches a resolver. port is empty when it did not fit 32 bits.
std::optional<StatusText>
ConnectProblem(const QString &host, const QString &portText, std::optional<qint32> port);

// text, cut after max characters with "…" when it is longer: for quoting the user or the
// rig-control program in a status text.
QString shortened(const QString &text, qsizetype max);

// "Succeeded connection to: " + host + ":" + port.
QString ConnectedText(const QString &host, qint32 port);

// Bytes from the rig-control program as text, read in pieces: UTF-8, each byte that is not
// part of a whole sequence shown as U+FFFD; a character whose bytes arrive in two reads is
// decoded whole when its last byte comes. (Qt 6.4's stateful QStringDecoder drops the byte
// that follows a cut sequence, so the cut is held back here instead.)
class ReplyDecoder
{
public:
    QString decode(const QByteArray &bytes);

private:
    QByteArray m_pending; // the start of a sequence cut at the end of the last piece
};

} // namespace Rig
