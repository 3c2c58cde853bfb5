// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "chirpschedule.h"
#include "daytime.h"
#include "sounder.h"

#include <functional>

namespace Tracking {

// The window's controls as the tick cycle sees them.
class TrackingControls
{
public:
    virtual ~TrackingControls() = default;

    virtual QString command1Caption() const = 0;
    virtual void setCommand1Caption(const QString &caption) = 0;
    virtual void setTimer1Enabled(bool enabled) = 0;
    // Locks or unlocks Combo_period and chirptime against editing.
    virtual void setSettingsLocked(bool locked) = 0;
    virtual int slider1Value() const = 0;
    virtual QString periodText() const = 0;
    virtual QString chirptimeText() const = 0;
    // Writes the chirp position into Text3, the period position into Text5, then the
    // frequency into text2.
    virtual void showStep(const StepResult &step) = 0;
    // Tells the user why no step could be computed.
    virtual void showProblem(const QString &text) = 0;
};

inline const QString StartCaption = QStringLiteral("Start");
inline const QString StopCaption = QStringLiteral("Stop");

// Start/Stop and the tick of the stepping timer. Holds no state of its own: the caption of
// Command1 is the state.
class TickCycle
{
public:
    // Hands a tick's step frequency, in hertz, to the link.
    using SendStep = std::function<void(qint32 stepHz)>;

    TickCycle(TrackingControls &controls, Clock clock, SendStep sendStep);

    // Hears of each step after it was handed on, with the clock's reading it was computed
    // from, and of each stop; listening follows the tuning this way without delaying it.
    using StepTaken = std::function<void(
        const QDateTime &reading, const StepResult &step, const Sounder &sounder)>;
    using Stopped = std::function<void()>;

    void setSendStep(SendStep sendStep) { m_sendStep = std::move(sendStep); }
    // The sounder's sweep rate (kHz per second) that every tick computes with.
    void setRate(double rateKhzPerS) { m_rateKhzPerS = rateKhzPerS; }
    double rate() const { return m_rateKhzPerS; }
    void setStepWatchers(StepTaken taken, Stopped stopped)
    {
        m_stepTaken = std::move(taken);
        m_stopped = std::move(stopped);
    }

    // Toggles between stopped and running. Does not start when the settings give no step.
    void onCommand1Click();

    // Reads the settings and the clock, shows the step and hands its frequency on.
    void onTimer1Tick();

private:
    StepInputs readInputs() const;

    TrackingControls &m_controls;
    Clock m_clock;
    SendStep m_sendStep;
    double m_rateKhzPerS = DefaultRateKhzPerS;
    StepTaken m_stepTaken;
    Stopped m_stopped;
};

} // namespace Tracking
