// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigprogram.h"

#include "flrig.h"
#include "hrdframes.h"
#include "hrdtext.h"
#include "rigctld.h"

#include <QStringList>

#include <array>

namespace Rig {
namespace {

// In the order of the enum.
const std::array<RigProgram, 4> Programs{{
    {Protocol::HrdText,
     "hrd-text",
     "HamRadioDeluxe",
     "HamRadioDeluxe's text lines",
     7809,
     false,
     Framing::Lines,
     [](const QString &, quint16) {
         return newHrdTextConversation();
     }},
    {Protocol::Hrd,
     "hrd",
     "HamRadioDeluxe",
     "HamRadioDeluxe 5 and later",
     7809,
     true,
     Framing::Frames,
     [](const QString &, quint16) {
         return newHrdConversation();
     }},
    {Protocol::Rigctld,
     "rigctld",
     "rigctld",
     "Hamlib",
     4532,
     true,
     Framing::Lines,
     [](const QString &, quint16) {
         return newRigctldConversation();
     }},
    {Protocol::Flrig, "flrig", "flrig", "", 12345, true, Framing::Http, &newFlrigConversation},
}};

} // namespace

std::span<const RigProgram> rigPrograms()
{
    return Programs;
}

const RigProgram &rigProgram(Protocol protocol)
{
    return Programs[std::size_t(protocol)];
}

std::optional<Protocol> protocolFromOption(const QString &option)
{
    for (const RigProgram &program : Programs) {
        if (option == QLatin1StringView(program.option))
            return program.protocol;
    }
    return std::nullopt;
}

QString protocolOptions(bool about)
{
    QStringList options;
    for (const RigProgram &program : Programs) {
        options << QString::fromLatin1(program.option);
        if (about && *program.about)
            options.last() += QStringLiteral(" (%1)").arg(QString::fromLatin1(program.about));
    }
    const QString last = options.takeLast();
    return options.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString sendFailedText(Protocol protocol)
{
    return QStringLiteral("Ready to connect, %1 needs to be running.").arg(programName(protocol));
}

std::optional<QString> upperSidebandMode(const QStringList &modes)
{
    if (modes.contains(u"USB"))
        return QStringLiteral("USB");
    for (const QString &mode : modes) {
        if (mode.startsWith(u"USB"))
            return mode;
    }
    return std::nullopt;
}

std::variant<Incomplete, QByteArray, Malformed> takeLine(QByteArray &buffer)
{
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0) {
        if (buffer.size() > 1024)
            return Malformed{};
        return Incomplete{};
    }
    QByteArray line = buffer.left(end).trimmed();
    buffer.remove(0, end + 1);
    return line;
}

} // namespace Rig
