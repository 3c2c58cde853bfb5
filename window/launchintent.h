// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <utility>

namespace Window {

// What the command line asked to be pressed at launch, and how long that wish lasts: --start
// with --connect waits for the first connection, but only until the user presses Start,
// Stop, Connect or Disconnect; from then on the user decides alone.
class LaunchIntent
{
public:
    enum class Press { Nothing, Connect, Start };

    LaunchIntent(bool connect, bool start)
        : m_connect(connect)
        , m_start(start)
    {}

    // What to press once the window is shown.
    Press atShow()
    {
        m_startWhenConnected = m_connect && m_start;
        return m_connect ? Press::Connect : m_start ? Press::Start : Press::Nothing;
    }
    // The user pressed one of the four buttons.
    void userPressed() { m_startWhenConnected = false; }
    // The link is up: whether Start is to be pressed now (once at most).
    bool startNow() { return std::exchange(m_startWhenConnected, false); }

private:
    bool m_connect = false;
    bool m_start = false;
    bool m_startWhenConnected = false;
};

} // namespace Window
