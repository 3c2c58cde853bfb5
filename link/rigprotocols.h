#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

namespace Rig {

// The rig-control programs Zarvotel can drive, each in its own wire language.
enum class Protocol {
    HrdText, // HamRadioDeluxe's plain text lines, one per tick (the default)
    Hrd,     // HamRadioDeluxe 5 and later: UTF-16 text in binary frames
    Rigctld, // Hamlib's rigctld
    Flrig,   // flrig's XML-RPC over HTTP
};

// The name given to --rig ("hrd-text", "hrd", "rigctld", "flrig"), and back.
QString protocolOption(Protocol protocol);
std::optional<Protocol> protocolFromOption(const QString &option);
// The program's name as the user knows it, and the port it listens on by default.
QString programName(Protocol protocol);
quint16 defaultPort(Protocol protocol);
// "Ready to connect, <program> needs to be running."
QString sendFailedText(Protocol protocol);

// A complete reply taken from the front of the received bytes.
struct Reply
{
    bool tuned = true; // false: the program answered, but did not do what it was asked
    QString text;      // what the user reads: the reply itself, or why it did not tune
    QString raw;       // the reply's own text
};
struct Incomplete {};
struct Malformed {}; // bytes that cannot be a reply; the link is dropped
using ReplyParse = std::variant<Incomplete, Reply, Malformed>;

// The command that sets the radio to hz, in the protocol's language. For hrd, context is
// the reply to "get context". Numbers are ASCII digits whatever the user's locale.
QByteArray setFrequencyCommand(Protocol protocol, qint32 hz, const QString &context = {},
                               const QString &host = {}, quint16 port = 0);

// Takes one reply of the protocol from the front of buffer, if it is all there.
ReplyParse takeReply(Protocol protocol, QByteArray &buffer);

// HamRadioDeluxe 5 frames: a 16-byte little-endian header (total size, 0x1234ABCD,
// 0xABCD1234, 0), then the text in UTF-16LE ending in one UTF-16 NUL.
inline constexpr quint32 HrdMagic1 = 0x1234ABCD;
inline constexpr quint32 HrdMagic2 = 0xABCD1234;
inline constexpr qsizetype HrdHeaderBytes = 16;
inline constexpr qsizetype MaxReplyBytes = 64 * 1024; // anything larger is not a reply
QByteArray hrdFrame(const QString &text);
// A whole frame's text up to its first NUL, or Malformed for a bad header or size.
std::variant<Incomplete, QString, Malformed> takeHrdFrame(QByteArray &buffer);

// An HTTP/1.1 message (request or response) with a Content-Length body.
struct HttpMessage
{
    QByteArray startLine;
    QByteArray body;
    qsizetype contentLength = -1;
};
std::variant<Incomplete, HttpMessage, Malformed> takeHttpMessage(QByteArray &buffer);

// The meaning of a rigctld "RPRT n" code.
QString hamlibErrorText(int code);

} // namespace Rig
