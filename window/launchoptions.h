// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "listener.h"
#include "rigprogram.h"

#include <QString>

#include <optional>

namespace Window {

// What the command line sets at launch. Each value left empty keeps the window's
// design-time one; with nothing set the window starts exactly as designed.
struct LaunchOptions
{
    Rig::Protocol protocol = Rig::Protocol::HrdText;
    std::optional<QString> period;
    std::optional<QString> chirptime;
    std::optional<int> offsetUnits; // -10 to 10
    std::optional<QString> host;
    std::optional<quint16> port;
    bool connect = false;              // press Connect once the window is shown
    bool start = false;                // press Start then, or with connect once connected
    int reconnectSeconds = 0;          // press Connect again while the link is down; 0: never
    bool utc = false;                  // lay the day out from UTC midnight, and show UTC time
    std::optional<double> rateKhzPerS; // the sounder's sweep rate (100 kHz/s when empty)
    std::optional<qint32> findHz;      // park the dial here and find the sounders crossing it
    double findSeconds = 0;            // how long to find them for
    bool listen = false;               // listen to the receiver from the start
    Listen::ListenOptions listening;
    QString settingsPath; // where "Use N ms" keeps listening's settings; empty: nowhere
};

} // namespace Window
