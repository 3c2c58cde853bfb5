// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "protocol.h"
#include "rigprogram.h"

namespace Rig {

// "set frequency-hz " and the frequency in hertz as ASCII digits: HamRadioDeluxe's command,
// in its text lines and in its frames alike.
QByteArray setFrequencyText(qint32 hz);

// The command line of HamRadioDeluxe's text protocol: "set frequency-hz " + hz + CR LF.
QByteArray CommandLine(qint32 hz);

// HamRadioDeluxe's plain text lines: a line at every tick, replies shown as they come.
std::unique_ptr<Conversation> newHrdTextConversation();

} // namespace Rig
