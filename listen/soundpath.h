// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

#include <optional>
#include <span>

namespace Listen {

// Where the recent echoes stand against the drawn delays, before the sound path's delay is
// known: all in ms after the chirp's expected arrival.
struct SoundPathAdvice
{
    double echoesFromMs = 0; // the lower and upper edge of the strongest echoes' delays
    double echoesToMs = 0;
    std::optional<int> addedMs; // what the sound path seems to add; none when nothing fits
};

// From the strongest echo's delay of each recent heard step: none when too few were heard
// or when they lie in the drawn delays (drawnFromMs to drawnToMs).
std::optional<SoundPathAdvice>
soundPathAdvice(std::span<const double> echoDelaysMs, double drawnFromMs, double drawnToMs);

// The advice in the window's words.
QString soundPathText(const SoundPathAdvice &advice, double drawnFromMs, double drawnToMs);

// Heard steps needed before any advice, and how many recent ones it is drawn from.
inline constexpr int SoundPathLeastEchoes = 20;
inline constexpr int SoundPathEchoesKept = 100;

} // namespace Listen
