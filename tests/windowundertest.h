// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The main window as the tests build it: its clock's health comes from sources the test
// sets, never from this machine.

#include "mainwindow.h"

// Clock figures as the test says; by default none, so the health is unknown.
struct FakeClockSources : Window::ClockSources
{
    std::optional<Tracking::KernelClock> kernelClock;
    QString chronycProgram;

    std::optional<Tracking::KernelClock> kernel() const override { return kernelClock; }
    QString chronyc() const override { return chronycProgram; }
};

class WindowUnderTest : public Window::Main
{
public:
    explicit WindowUnderTest(Tracking::Clock clock = {},
                             Rig::Protocol protocol = Rig::Protocol::HrdText)
        : WindowUnderTest(std::move(clock), withProtocol(protocol))
    {}
    WindowUnderTest(Tracking::Clock clock,
                    const Window::LaunchOptions &options,
                    std::unique_ptr<FakeClockSources> sources = std::make_unique<FakeClockSources>())
        : Main(std::move(clock), std::move(sources), options)
    {}

private:
    static Window::LaunchOptions withProtocol(Rig::Protocol protocol)
    {
        Window::LaunchOptions options;
        options.protocol = protocol;
        return options;
    }
};
