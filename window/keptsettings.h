// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "listener.h"

#include <QString>

namespace Window {

// The file where listening's settings are kept between runs: the audio input, the sound
// path's delay, the drawn delays and the ionogram folder. The main window's controls are not
// kept: it always starts as designed.
QString keptSettingsPath();

// The settings kept at path over the defaults; a value out of range is left out.
Listen::ListenOptions readKeptListening(const QString &path);

// Keeps options' input, sound path delay, drawn delays and folder (the default folder as
// none) at path.
void keepListening(const QString &path, const Listen::ListenOptions &options);

} // namespace Window
