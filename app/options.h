// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "launchoptions.h"

#include <QLocale>
#include <QStringList>

#include <optional>
#include <variant>

namespace App {

// Sweep CSVs to scale (--scale), and the sounder that goes in their summary rows.
struct ScaleRequest
{
    QStringList files;
    std::optional<double> periodS;
    std::optional<double> chirptimeS;
    std::optional<double> rateKhzPerS;
};

// What the command line asks for.
struct CommandLine
{
    Window::LaunchOptions launch;
    bool help = false;
    bool version = false;
    bool checkClock = false;
    bool listAudioInputs = false;
    std::optional<ScaleRequest> scale;
};

// The arguments, the program's name first, read with the user's locale for the period and
// chirptime; or the one line that says what is wrong with them.
std::variant<CommandLine, QString> parseCommandLine(const QStringList &arguments,
                                                    const QLocale &locale = {});

// What --help prints.
QString helpText();

} // namespace App
