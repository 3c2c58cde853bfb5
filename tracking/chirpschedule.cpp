#include "chirpschedule.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace Tracking {
namespace {

constexpr qint32 HzPerMs = 100; // the sweep rises 100 kHz per second
constexpr qint32 StepHz = 100'000;

using Number = std::variant<double, StepError>;

// A decimal number as the user typed it, in the locale's notation.
Number parseNumber(const QString &text, const QLocale &locale)
{
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    if (!ok)
        return std::isinf(value) ? StepError::FloatingPoint : StepError::NotANumber;
    if (!std::isfinite(value)) // "nan" and "inf" typed as such
        return StepError::NotANumber;
    return value;
}

// Rounds to the nearest 32-bit integer, halves to the even neighbour.
std::variant<qint32, StepError> roundToInt32(double value)
{
    if (!std::isfinite(value))
        return StepError::FloatingPoint;
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole < double(std::numeric_limits<qint32>::min())
        || whole > double(std::numeric_limits<qint32>::max()))
        return StepError::IntegerOverflow;
    return static_cast<qint32>(whole);
}

// value / unit with `decimals` decimals (unit is the value of the last shown digit), rounded
// half away from zero; no sign on a value that shows as zero.
QString fixedText(qint64 value, qint64 unit, int decimals, const QLocale &locale)
{
    const qint64 scaled = (std::llabs(value) + unit / 2) / unit;
    const qint64 scale = decimals == 1 ? 10 : 100;
    QString text;
    if (value < 0 && scaled != 0)
        text += locale.negativeSign();
    text += QString::number(scaled / scale);
    text += locale.decimalPoint();
    text += QString::number(scaled % scale).rightJustified(decimals, u'0');
    return text;
}

QString quoted(const QString &text)
{
    constexpr qsizetype MaxShown = 24;
    QString shown = text.size() > MaxShown ? text.left(MaxShown) + QChar(0x2026) : text;
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = QChar::ReplacementCharacter;
    }
    return u'"' + shown + u'"';
}

} // namespace

StepOutcome ComputeStep(qint32 dayTime, const StepInputs &inputs, const QLocale &locale)
{
    StepResult r;

    const qint64 offsetMs = qint64(inputs.offsetUnits) * 100;
    if (offsetMs < std::numeric_limits<qint16>::min() || offsetMs > std::numeric_limits<qint16>::max())
        return StepFailure{StepError::IntegerOverflow, StepField::Offset};
    r.offsetMs = static_cast<qint16>(offsetMs);

    const Number periodSeconds = parseNumber(inputs.periodText, locale);
    if (const auto *error = std::get_if<StepError>(&periodSeconds))
        return StepFailure{*error, StepField::Period};
    const double periodExactMs = std::get<double>(periodSeconds) * 1000.0;
    const auto periodMs = roundToInt32(periodExactMs);
    if (const auto *error = std::get_if<StepError>(&periodMs))
        return StepFailure{*error, StepField::Period};
    r.periodMs = std::get<qint32>(periodMs);

    if (r.periodMs == 0)
        return StepFailure{StepError::DivisionByZero, StepField::Period};
    r.periodPositionMs = dayTime % r.periodMs;

    const Number chirptimeSeconds = parseNumber(inputs.chirptimeText, locale);
    if (const auto *error = std::get_if<StepError>(&chirptimeSeconds))
        return StepFailure{*error, StepField::Chirptime};
    const double chirpStartMs = std::get<double>(chirptimeSeconds) * 1000.0;
    if (!std::isfinite(chirpStartMs))
        return StepFailure{StepError::FloatingPoint, StepField::Chirptime};

    // Before the chirp of this period starts, the sweep under way is the previous period's.
    const double position = r.periodPositionMs;
    const auto wrapMs = roundToInt32(chirpStartMs > position
                                         ? periodExactMs + (position - chirpStartMs)
                                         : position - chirpStartMs);
    if (const auto *error = std::get_if<StepError>(&wrapMs))
        return StepFailure{*error, StepField::Sweep};

    if (__builtin_add_overflow(std::get<qint32>(wrapMs), r.offsetMs, &r.chirpPositionMs))
        return StepFailure{StepError::IntegerOverflow, StepField::Sweep};
    if (__builtin_mul_overflow(r.chirpPositionMs, HzPerMs, &r.sweepHz))
        return StepFailure{StepError::IntegerOverflow, StepField::Sweep};

    // Past 30 MHz the radio waits at 2 MHz for the next chirp.
    if (r.sweepHz < SweepFloorHz || r.sweepHz > SweepCeilingHz)
        r.sweepHz = SweepFloorHz;

    r.stepText = QString::number(r.sweepHz / StepHz * StepHz);
    r.chirpPositionText = fixedText(r.chirpPositionMs, 100, 1, locale);
    r.periodPositionText = fixedText(r.periodPositionMs, 100, 1, locale);
    r.frequencyText = fixedText(r.sweepHz, 10'000, 2, locale) + QStringLiteral(" MHz");
    return r;
}

QString describeFailure(const StepFailure &failure, const StepInputs &inputs)
{
    switch (failure.field) {
    case StepField::Offset:
        return QStringLiteral("Offset %1 is out of range.").arg(inputs.offsetUnits);
    case StepField::Sweep:
        return QStringLiteral("Period %1 and chirptime %2 put the sweep out of range.")
            .arg(quoted(inputs.periodText), quoted(inputs.chirptimeText));
    case StepField::Period:
    case StepField::Chirptime:
        break;
    }
    const bool period = failure.field == StepField::Period;
    const QString name = period ? QStringLiteral("Period") : QStringLiteral("Chirptime");
    const QString text = quoted(period ? inputs.periodText : inputs.chirptimeText);
    switch (failure.error) {
    case StepError::NotANumber:
        return QStringLiteral("%1 %2 is not a number.").arg(name, text);
    case StepError::DivisionByZero:
        return QStringLiteral("%1 %2 is too short.").arg(name, text);
    case StepError::IntegerOverflow:
    case StepError::FloatingPoint:
        break;
    }
    return QStringLiteral("%1 %2 is out of range.").arg(name, text);
}

} // namespace Tracking
