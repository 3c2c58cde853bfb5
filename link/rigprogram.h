// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <span>
#include <variant>

namespace Rig {

// The rig-control programs Zarvotel can drive, each in its own wire language.
enum class Protocol {
    HrdText, // HamRadioDeluxe's plain text lines, one per tick (the default)
    Hrd,     // HamRadioDeluxe 5 and later: UTF-16 text in binary frames
    Rigctld, // Hamlib's rigctld
    Flrig,   // flrig's XML-RPC over HTTP
};

// What one answer from the program means.
struct Incomplete
{
};
struct Malformed
{
};               // bytes that cannot be an answer: the link is dropped
struct SetupNext // the conversation's opening goes on with this request; empty: done
{
    QByteArray request;
};
struct Unusable // the program answered, but cannot be driven
{
    QString caption; // a short form for the status line
    QString whole;   // the whole story, with the program's own answers
};
struct Reply // the answer to a step
{
    bool tuned = true; // false: the program answered, but did not do what it was asked
    QString text;      // what the user reads: the reply itself, or why it did not tune
    QString whole;     // when text is a short form: the whole of it; empty otherwise
};
using Answer = std::variant<Incomplete, Malformed, SetupNext, Unusable, Reply>;

// One rig-control program's conversation on one connection: what it sends on connecting,
// the command for a step, and what each answer means. Where the program's answers are
// awaited, commands go out one at a time and each answer is taken as the answer to the
// last request sent.
class Conversation
{
public:
    virtual ~Conversation() = default;

    // The first request once the connection is established; empty when steps go out at once.
    virtual QByteArray opening() { return {}; }
    // The command that sets the radio to hz, in ASCII digits whatever the locale.
    virtual QByteArray stepCommand(qint32 hz) const = 0;
    // Takes one answer from the front of buffer.
    virtual Answer takeAnswer(QByteArray &buffer) = 0;

    // The first request that sets the radio to upper sideband; empty when the program has no
    // way to. Its answers go to takeSidebandAnswer: SetupNext with the next request of the
    // same errand, or a Reply that says whether the radio took it.
    virtual QByteArray sidebandCommand() { return {}; }
    virtual Answer takeSidebandAnswer(QByteArray &buffer) { return takeAnswer(buffer); }

    // The answer to go on with when the last request of the opening, or the sideband's
    // (sideband), gets none: a program that does not know a command may say nothing, or
    // close the connection. Nothing: the program is needed to answer, and the link fails.
    virtual std::optional<Answer> unanswered(bool sideband)
    {
        Q_UNUSED(sideband);
        return std::nullopt;
    }
};

// The mode that sets upper sideband, from the names of the radio's modes: "USB", else the
// first that starts with "USB" ("USB-D"); nothing when there is none.
std::optional<QString> upperSidebandMode(const QStringList &modes);

// The words before the program's answer when the radio did not take upper sideband.
inline const QString SidebandRefusedPrefix
    = QStringLiteral("The radio did not take upper sideband: ");

// How a program's messages are cut from the byte stream, in both directions.
enum class Framing {
    Lines,  // text lines ending in LF
    Frames, // HamRadioDeluxe 5's binary frames
    Http,   // HTTP/1.1 messages with a Content-Length
};

// Everything the program, the command line, the window and the test peer need to know of one
// rig-control program.
struct RigProgram
{
    Protocol protocol;
    const char *option;  // the name given to --rig
    const char *name;    // the name the user knows
    const char *about;   // a few words for --help, or empty
    quint16 defaultPort; // where it listens unless told otherwise
    // False: a command goes out at every tick and the replies are only shown. True: the
    // program drives a real radio that answers slowly, so a command goes out when the step
    // changes, one at a time, and an answer that does not come counts as a failed send.
    bool awaitsAnswers;
    Framing framing;
    // A new conversation with the program at host and port (flrig names them in requests).
    std::unique_ptr<Conversation> (*newConversation)(const QString &host, quint16 port);
};

// Every program, the default first.
std::span<const RigProgram> rigPrograms();
const RigProgram &rigProgram(Protocol protocol);
std::optional<Protocol> protocolFromOption(const QString &option);
// "hrd-text, hrd, rigctld or flrig"; with about: "hrd-text (HamRadioDeluxe's text lines), ...".
QString protocolOptions(bool about = false);

// The --rig name and the user's name of a program.
inline QString protocolOption(Protocol protocol)
{
    return QString::fromLatin1(rigProgram(protocol).option);
}
inline QString programName(Protocol protocol)
{
    return QString::fromLatin1(rigProgram(protocol).name);
}
inline quint16 defaultPort(Protocol protocol)
{
    return rigProgram(protocol).defaultPort;
}
// "Ready to connect, <program> needs to be running."
QString sendFailedText(Protocol protocol);

// A new conversation with the program at host and port.
inline std::unique_ptr<Conversation>
newConversation(Protocol protocol, const QString &host = {}, quint16 port = 0)
{
    return rigProgram(protocol).newConversation(host, port);
}

// Anything longer than this is not an answer.
inline constexpr qsizetype MaxReplyBytes = 64 * 1024;

// A line from the front of buffer without its line end and surrounding blanks; nothing
// until it is whole; Malformed beyond 1 KiB without a line end.
std::variant<Incomplete, QByteArray, Malformed> takeLine(QByteArray &buffer);

} // namespace Rig
