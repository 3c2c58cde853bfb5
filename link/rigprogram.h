// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
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
struct Unusable // the program answered, but cannot be driven: why, for the status line
{
    QString text;
};
struct Reply // the answer to a step
{
    bool tuned = true; // false: the program answered, but did not do what it was asked
    QString text;      // what the user reads: the reply itself, or why it did not tune
};
using Answer = std::variant<Incomplete, Malformed, SetupNext, Unusable, Reply>;

// One rig-control program's conversation on one connection: what it sends on connecting,
// the command for a step, and what each answer means. Commands go out one at a time; each
// answer is taken as the answer to the last request sent.
class Conversation
{
public:
    virtual ~Conversation() = default;

    // False for a program that takes a line at every tick and whose replies are only shown.
    virtual bool paced() const { return true; }
    // The first request once the connection is established; empty when steps go out at once.
    virtual QByteArray opening() { return {}; }
    // The command that sets the radio to hz, in ASCII digits whatever the locale.
    virtual QByteArray stepCommand(qint32 hz) const = 0;
    // Takes one answer from the front of buffer.
    virtual Answer takeAnswer(QByteArray &buffer) = 0;
};

// A new conversation with the program at host and port (flrig names them in each request).
std::unique_ptr<Conversation>
newConversation(Protocol protocol, const QString &host = {}, quint16 port = 0);

// Anything longer than this is not an answer.
inline constexpr qsizetype MaxReplyBytes = 64 * 1024;

} // namespace Rig
