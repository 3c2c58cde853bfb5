// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigctld.h"

#include <QByteArrayList>

#include <iterator>

namespace Rig {

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
        "function deprecated",
        "security error",
        "the rig is not powered on",
        "limit exceeded",
        "access denied",
    };
    // Hamlib writes its codes negative; older versions wrote them positive. The code comes
    // from the network, so it is range-checked before it is negated or indexes anything.
    constexpr int count = int(std::size(texts));
    if (code > -count && code < count)
        return QString::fromLatin1(texts[code < 0 ? -code : code]);
    return QStringLiteral("error %1").arg(code);
}

namespace {

class RigctldConversation final : public Conversation
{
public:
    QByteArray opening() override
    {
        m_probing = true;
        return "\\chk_vfo\n";
    }

    QByteArray stepCommand(qint32 hz) const override
    {
        return (m_vfoMode ? "F currVFO " : "F ") + QByteArray::number(hz) + '\n';
    }

    Answer takeAnswer(QByteArray &buffer) override
    {
        if (m_probing) {
            const auto taken = takeLine(buffer);
            if (const auto *line = std::get_if<QByteArray>(&taken))
                return probed(*line);
            if (std::holds_alternative<Malformed>(taken))
                return Malformed{};
            return Incomplete{};
        }
        return takeReport(buffer, QStringLiteral("rigctld did not tune: "));
    }

    // Upper sideband with the radio's own passband for it (0).
    QByteArray sidebandCommand() override { return m_vfoMode ? "M currVFO USB 0\n" : "M USB 0\n"; }

    Answer takeSidebandAnswer(QByteArray &buffer) override
    {
        return takeReport(buffer, SidebandRefusedPrefix);
    }

    // Servers that speak a part of rigctld's language may say nothing to a command they do
    // not know, or close the connection on it; the steps go on without it.
    std::optional<Answer> unanswered(bool sideband) override
    {
        if (sideband)
            return Reply{false,
                         SidebandRefusedPrefix
                             + QStringLiteral("no answer to \"%1\"")
                                   .arg(QString::fromLatin1(sidebandCommand().trimmed())),
                         {}};
        if (!m_probing)
            return std::nullopt;
        // Without "\chk_vfo" there is no VFO mode either.
        m_probing = false;
        m_vfoMode = false;
        return SetupNext{};
    }

private:
    // "\chk_vfo" is answered "1" in VFO mode and "0" otherwise (newer versions write
    // "CHKVFO 1"); a rigctld too old to know it answers "RPRT n" and has no VFO mode, and
    // so do Gqrx ("RPRT 1" in 2.15, "0" later) and SDR++ ("CHKVFO 0", "RPRT 1" in older ones).
    Answer probed(const QByteArray &line)
    {
        m_probing = false;
        const QByteArrayList words = line.simplified().split(' ');
        m_vfoMode = words.size() <= 2 && words.last() == "1"
                    && (words.size() == 1 || words.first() == "CHKVFO");
        return SetupNext{};
    }

    // An "RPRT n" line; refused goes before it when n is not 0.
    static Answer takeReport(QByteArray &buffer, const QString &refused)
    {
        for (;;) {
            const auto taken = takeLine(buffer);
            if (std::holds_alternative<Incomplete>(taken))
                return Incomplete{};
            if (std::holds_alternative<Malformed>(taken))
                return Malformed{};
            const QByteArray &line = std::get<QByteArray>(taken);
            // Lines other than "RPRT n" (an echo, extended output) are passed over.
            if (!line.startsWith("RPRT "))
                continue;
            bool ok = false;
            const int code = line.mid(5).trimmed().toInt(&ok);
            if (!ok)
                return Malformed{};
            const QString raw = QString::fromLatin1(line);
            if (code == 0)
                return Reply{true, raw, {}};
            const QString caption = refused + raw;
            return Reply{
                false, caption, caption + QStringLiteral(" (%1)").arg(hamlibErrorText(code))};
        }
    }

    bool m_probing = false;
    bool m_vfoMode = false;
};

} // namespace

std::unique_ptr<Conversation> newRigctldConversation()
{
    return std::make_unique<RigctldConversation>();
}

} // namespace Rig
