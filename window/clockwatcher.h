// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "clockhealth.h"

#include <QObject>

#include <memory>

class QProcess;
class QTimer;

namespace Window {

// Where the clock's figures come from: the system's own in the program, fakes in tests.
class ClockSources
{
public:
    virtual ~ClockSources() = default;
    // The kernel's figures; empty where the system has no such call.
    virtual std::optional<Tracking::KernelClock> kernel() const = 0;
    // The program that prints chrony's tracking line, or empty when chrony is not there.
    virtual QString chronyc() const = 0;
};

// Asks the sources now and then once a minute, never waiting on the window's thread:
// chronyc runs as a separate process, and one that hangs is killed after two seconds.
class ClockWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 60'000;
    static constexpr int ChronycTimeoutMs = 2000;

    explicit ClockWatcher(std::unique_ptr<ClockSources> sources, QObject *parent = nullptr);
    ~ClockWatcher() override;

    void start();
    Tracking::ClockHealth health() const { return m_health; }

    // Asks once and waits for chronyc (at most two seconds); for the command line.
    static Tracking::ClockHealth askNow(const ClockSources &sources);

Q_SIGNALS:
    void healthChanged(const Tracking::ClockHealth &health);

private:
    void ask();
    void settle(const std::optional<QByteArray> &chronycOutput);

    std::unique_ptr<ClockSources> m_sources;
    QTimer *m_timer = nullptr;
    QProcess *m_chronyc = nullptr;
    std::optional<Tracking::KernelClock> m_kernel;
    Tracking::ClockHealth m_health;
};

} // namespace Window
