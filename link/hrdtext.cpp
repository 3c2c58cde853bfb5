// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "hrdtext.h"

namespace Rig {

QByteArray setFrequencyText(qint32 hz)
{
    return "set frequency-hz " + QByteArray::number(hz);
}

QByteArray CommandLine(qint32 hz)
{
    return setFrequencyText(hz) + "\r\n";
}

namespace {

class HrdTextConversation final : public Conversation
{
public:
    bool paced() const override { return false; }
    QByteArray stepCommand(qint32 hz) const override { return CommandLine(hz); }
    // Replies are shown as they come and never taken apart.
    Answer takeAnswer(QByteArray &buffer) override
    {
        Reply reply{true, QString::fromUtf8(buffer)};
        buffer.clear();
        return reply;
    }
};

} // namespace

std::unique_ptr<Conversation> newHrdTextConversation()
{
    return std::make_unique<HrdTextConversation>();
}

} // namespace Rig
