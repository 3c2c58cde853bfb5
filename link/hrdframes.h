// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "rigprogram.h"

namespace Rig {

// HamRadioDeluxe 5 frames: a 16-byte little-endian header (total size, 0x1234ABCD,
// 0xABCD1234, 0), then the text in UTF-16LE ending in one UTF-16 NUL.
inline constexpr quint32 HrdMagic1 = 0x1234ABCD;
inline constexpr quint32 HrdMagic2 = 0xABCD1234;
inline constexpr qsizetype HrdHeaderBytes = 16;
QByteArray hrdFrame(const QString &text);
// A whole frame's text up to its first NUL, or Malformed for a bad header or size.
std::variant<Incomplete, QString, Malformed> takeHrdFrame(QByteArray &buffer);

// The id of the radio named current in the answer to "get radios" ("1:IC-7300,2:FT-991A"),
// or nothing when it is not listed there with a whole-number id.
std::optional<quint32> hrdRadioId(const QString &radios, const QString &current);

// HamRadioDeluxe 5 and later: "get context" to learn that the frames are understood, "get
// radios" and "get radio" for the current radio's id N, then "[N] set frequency-hz ...";
// upper sideband by "[N] get dropdowns", "[N] get dropdown-list {Mode}" and
// "[N] set dropdown Mode USB 1" (the item and its place in the list), as HamRadioDeluxe's
// IP server documents them.
std::unique_ptr<Conversation> newHrdConversation();

} // namespace Rig
