// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "hrdtext.h"

#include <utility>

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
    QByteArray stepCommand(qint32 hz) const override { return CommandLine(hz); }
    // Whatever has come is one reply, shown as it is, never taken apart; a character cut
    // between two reads shows whole once its last byte is in.
    Answer takeAnswer(QByteArray &buffer) override
    {
        return Reply{true, m_decoder.decode(std::exchange(buffer, QByteArray())), {}};
    }

private:
    ReplyDecoder m_decoder;
};

} // namespace

std::unique_ptr<Conversation> newHrdTextConversation()
{
    return std::make_unique<HrdTextConversation>();
}

} // namespace Rig
