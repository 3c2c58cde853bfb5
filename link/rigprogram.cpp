// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigprogram.h"

#include "flrig.h"
#include "hrdframes.h"
#include "hrdtext.h"
#include "rigctld.h"

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

std::unique_ptr<Conversation> newConversation(Protocol protocol, const QString &host, quint16 port)
{
    switch (protocol) {
    case Protocol::HrdText:
        break;
    case Protocol::Hrd:
        return newHrdConversation();
    case Protocol::Rigctld:
        return newRigctldConversation();
    case Protocol::Flrig:
        return newFlrigConversation(host, port);
    }
    return newHrdTextConversation();
}

} // namespace Rig
