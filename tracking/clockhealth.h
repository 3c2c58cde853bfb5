// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QProcess;
class QTimer;

namespace Tracking {

// The kernel's view of its clock (adjtimex with no change requested), in microseconds.
struct KernelClock
{
    bool unsynchronised = true; // STA_UNSYNC set, or the clock state is TIME_ERROR
    qint64 maxErrorUs = 0;      // the kernel's maximum error
    qint64 estErrorUs = 0;      // the kernel's estimated error
};

enum class ClockState { Synchronised, NotSynchronised, Unknown };

struct ClockHealth
{
    ClockState state = ClockState::Unknown;
    std::optional<qint64> boundUs; // how far off the clock may be, when a source says
    friend bool operator==(const ClockHealth &, const ClockHealth &) = default;
};

// More than this and the radio is more than 5 kHz off the chirp.
inline constexpr qint64 ClockToleranceUs = 50'000;

// How well the clock is synchronised, from the kernel's figures and from chrony's
// "chronyc -c tracking" line where chrony runs (chrony's figures win: it keeps the kernel's
// flag only with rtcsync). Either may be missing.
ClockHealth judgeClock(const std::optional<KernelClock> &kernel,
                       const std::optional<QByteArray> &chronyTracking);

// "Clock synchronised, within 4 ms", "Clock not synchronised: the radio may miss the
// chirp", "Clock state unknown".
QString clockHealthText(const ClockHealth &health);

// Known not to be synchronised, or off by more than the tolerance.
bool clockIsBad(const ClockHealth &health);

// Synchronised, and not known to be off by more than the tolerance.
bool clockIsGood(const ClockHealth &health);

// Where the figures come from; tests replace it.
class ClockSources
{
public:
    virtual ~ClockSources() = default;
    // Empty where the system has no such call.
    virtual std::optional<KernelClock> kernel() const = 0;
    // The program that prints chrony's tracking line, or empty when chrony is not there.
    virtual QString chronyc() const = 0;
};

// The system's own: adjtimex on Linux, chronyc where it is installed.
std::unique_ptr<ClockSources> systemClockSources();

// Asks the sources now and then once a minute, never waiting on the caller's thread:
// chronyc runs as a separate process.
class ClockWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 60'000;

    explicit ClockWatcher(std::unique_ptr<ClockSources> sources, QObject *parent = nullptr);
    ~ClockWatcher() override;

    void start();
    ClockHealth health() const { return m_health; }

    // Asks once and waits for chronyc (at most two seconds); for the command line.
    static ClockHealth askNow(const ClockSources &sources);

Q_SIGNALS:
    void healthChanged(const Tracking::ClockHealth &health);

private:
    void ask();
    void settle(const std::optional<QByteArray> &chronyTracking);

    std::unique_ptr<ClockSources> m_sources;
    QTimer *m_timer = nullptr;
    QProcess *m_chronyc = nullptr;
    std::optional<KernelClock> m_kernel;
    ClockHealth m_health;
};

} // namespace Tracking
