// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tickcycle.h"

namespace Tracking {

TickCycle::TickCycle(TrackingControls &controls, Clock clock, SendStep sendStep)
    : m_controls(controls)
    , m_clock(std::move(clock))
    , m_sendStep(std::move(sendStep))
{}

void TickCycle::onCommand1Click()
{
    if (m_controls.command1Caption() != StartCaption) {
        m_controls.setTimer1Enabled(false);
        m_controls.setCommand1Caption(StartCaption);
        m_controls.setSettingsLocked(false);
        if (m_stopped)
            m_stopped();
        return;
    }

    // Settings that give no step now do not start; a later tick that fails (a sweep that
    // overflows late in a long period) is skipped with the same words.
    const StepInputs inputs = readInputs();
    const StepOutcome trial = ComputeStep(DayTime(m_clock()), inputs);
    if (const auto *failure = std::get_if<StepFailure>(&trial)) {
        m_controls.showProblem(describeFailure(*failure, inputs));
        return;
    }

    m_controls.setTimer1Enabled(true);
    m_controls.setCommand1Caption(StopCaption);
    m_controls.setSettingsLocked(true);
}

void TickCycle::onTimer1Tick()
{
    const StepInputs inputs = readInputs();
    const QDateTime reading = m_clock();
    const StepOutcome outcome = ComputeStep(DayTime(reading), inputs);
    if (const auto *failure = std::get_if<StepFailure>(&outcome)) {
        m_controls.showProblem(describeFailure(*failure, inputs));
        return;
    }
    const auto &step = std::get<StepResult>(outcome);
    m_controls.showStep(step);
    if (m_sendStep)
        m_sendStep(step.stepHz);
    if (m_stepTaken)
        m_stepTaken(reading, step, Sounder::of(step, inputs.rateKhzPerS));
}

StepInputs TickCycle::readInputs() const
{
    StepInputs inputs;
    inputs.offsetUnits = m_controls.slider1Value();
    inputs.periodText = m_controls.periodText();
    inputs.chirptimeText = m_controls.chirptimeText();
    inputs.rateKhzPerS = m_rateKhzPerS;
    return inputs;
}

} // namespace Tracking
