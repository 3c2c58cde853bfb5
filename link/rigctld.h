// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "rigprogram.h"

namespace Rig {

// The meaning of a rigctld "RPRT n" code, for every code Hamlib 4.5 has; "error n" beyond.
QString hamlibErrorText(int code);

// Hamlib's rigctld: "\chk_vfo" on connecting to learn whether it runs in VFO mode (-o),
// then "F hz", or "F currVFO hz" in VFO mode, each answered by "RPRT n"; upper sideband is
// "M USB 0" ("M currVFO USB 0"), passband 0 being the radio's default for the mode.
std::unique_ptr<Conversation> newRigctldConversation();

} // namespace Rig
