// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "clockwatcher.h"

namespace App {

// The system's own clock figures: adjtimex on Linux, chronyc where it is installed.
std::unique_ptr<Window::ClockSources> systemClockSources();

} // namespace App
