// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QLocale>
#include <QString>

#include <variant>

namespace Tracking {

// Most sounders sweep at 100 kHz per second, and the schedule assumes it unless told.
inline constexpr double DefaultRateKhzPerS = 100;

// The settings as read from the window at a tick.
struct StepInputs
{
    QString periodText;    // period length in seconds, a decimal number as typed
    QString chirptimeText; // seconds from the period's start to the chirp's start
    int offsetUnits = 0;   // slider value; one unit is 100 ms
    // The sounder's sweep rate, kHz per second (Hz per ms); 1 to 1000.
    double rateKhzPerS = DefaultRateKhzPerS;
};

// Where the sounder stands at one day time, and what the radio is set to.
struct StepResult
{
    qint16 offsetMs = 0;
    qint32 periodMs = 0;
    qint32 periodPositionMs = 0; // 0 to periodMs - 1
    qint32 chirpPositionMs = 0;  // time since the chirp's start, plus the offset
    qint32 sweepHz = 0;          // 2,000,000 to 30,000,000
    qint32 stepHz = 0;           // sweepHz rounded down to 100 kHz
    QString stepText;            // stepHz as digits only
    QString chirpPositionText;   // seconds, one decimal ("219.4")
    QString periodPositionText;  // seconds, one decimal ("297.4")
    QString frequencyText;       // MHz, two decimals ("21.94 MHz")
};

enum class StepError {
    IntegerOverflow,
    NotANumber,
    FloatingPoint, // floating-point overflow or invalid operation
    DivisionByZero,
    NotPositive, // a period below 0 ms, which no sounder has
};

// Which setting, or which combination of them, a failure comes from.
enum class StepField { Offset, Period, Chirptime, Sweep };

struct StepFailure
{
    StepError error;
    StepField field;
    friend bool operator==(const StepFailure &, const StepFailure &) = default;
};

using StepOutcome = std::variant<StepResult, StepFailure>;

inline constexpr qint32 SweepFloorHz = 2'000'000;
inline constexpr qint32 SweepCeilingHz = 30'000'000;
// The radio follows the sweep in steps of 100 kHz: 281 steps from 2 to 30 MHz.
inline constexpr qint32 SweepStepHz = 100'000;
inline constexpr int SweepSteps = (SweepCeilingHz - SweepFloorHz) / SweepStepHz + 1;
// A step's place in the sweep, 0 for 2 MHz; outside 0 to SweepSteps - 1 for another dial.
inline int stepColumn(qint32 dialHz)
{
    return (dialHz - SweepFloorHz) / SweepStepHz;
}

// The step for a day time (ms, lead included) and the settings. Texts are read and shown
// with the locale's decimal separator.
StepOutcome ComputeStep(qint32 dayTime, const StepInputs &inputs, const QLocale &locale = {});

// One line for the status line that says which setting cannot be used, and why; for a
// number written with the other decimal separator, which one to use.
QString
describeFailure(const StepFailure &failure, const StepInputs &inputs, const QLocale &locale = {});

} // namespace Tracking
