// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "sweepscaling.h"

#include <QDate>
#include <QImage>

#include <span>

namespace Listen {

// The day at a glance: UTC hours 0 to 24 across, 2 to 30 MHz up, a mark per sweep for the
// one-hop MOF and one for two hops, the amateur bands as light bands.
QImage drawDayPlot(QDate utcDay, std::span<const SweepSummary> sweeps);

} // namespace Listen
