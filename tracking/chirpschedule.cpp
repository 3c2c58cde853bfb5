// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "chirpschedule.h"

#include <QtNumeric>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace Tracking {
namespace {

constexpr qint32 HzPerMs = 100; // the sweep rises 100 kHz per second

using Number = std::variant<double, StepError>;

// The locale's signs, read once per computation.
struct Notation
{
    QChar decimalPoint;
    QString negativeSign;
    QString positiveSign;

    explicit Notation(const QLocale &locale)
        : negativeSign(locale.negativeSign())
        , positiveSign(locale.positiveSign())
    {
        const QString point = locale.decimalPoint();
        decimalPoint = point.size() == 1 ? point.front() : QChar();
    }
};

// The common case, plain digits with an optional sign and decimal point and blanks
// around, read without the locale machinery; anything else is left to the locale.
std::optional<double> parsePlainNumber(QStringView text, const Notation &notation)
{
    constexpr qsizetype MaxPlain = 32;
    char ascii[MaxPlain + 1];
    qsizetype length = 0;
    text = text.trimmed();
    if (text.isEmpty() || text.size() > MaxPlain || notation.decimalPoint.isNull())
        return std::nullopt;
    qsizetype i = 0;
    if (text.front() == u'-' && notation.negativeSign == u"-") {
        ascii[length++] = '-';
        ++i;
    } else if (text.front() == u'+' && notation.positiveSign == u"+") {
        ++i;
    }
    qsizetype digits = 0, point = -1;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            ascii[length++] = char(c.unicode());
            ++digits;
        } else if (c == notation.decimalPoint && point < 0 && digits > 0) {
            ascii[length++] = '.';
            point = i;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || point == text.size() - 1)
        return std::nullopt;
    double value = 0;
    const auto result = std::from_chars(ascii, ascii + length, value);
    if (result.ec != std::errc())
        return std::nullopt;
    return value;
}

// A decimal number as the user typed it, in the locale's notation.
Number parseNumber(const QString &text, const QLocale &locale, const Notation &notation)
{
    if (const auto plain = parsePlainNumber(text, notation))
        return *plain;
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
QString fixedText(qint64 value, qint64 unit, int decimals, const Notation &notation)
{
    qint64 scaled = (std::llabs(value) + unit / 2) / unit;
    char digits[24];
    int first = sizeof digits;
    for (int i = 0; i <= decimals || scaled != 0; ++i) {
        digits[--first] = char('0' + scaled % 10);
        scaled /= 10;
    }
    const int whole = int(sizeof digits) - first - decimals;
    QString text;
    text.reserve(whole + decimals + 2);
    if (value < 0
        && std::any_of(digits + first, digits + sizeof digits, [](char c) { return c != '0'; }))
        text += notation.negativeSign;
    text += QLatin1StringView(digits + first, whole);
    text += notation.decimalPoint;
    text += QLatin1StringView(digits + first + whole, decimals);
    return text;
}

QString quoted(const QString &text)
{
    constexpr qsizetype MaxShown = 24;
    const QString cut = text.left(MaxShown);
    QString shown;
    shown.reserve(cut.size() + 3);
    shown += u'"';
    for (qsizetype i = 0; i < cut.size(); ++i) {
        char32_t c = cut[i].unicode();
        if (cut[i].isHighSurrogate() && i + 1 < cut.size() && cut[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(cut[i], cut[i + 1]);
            ++i;
        }
        // Control characters and lone surrogates show as marks.
        shown += QChar::isPrint(c) ? QChar::fromUcs4(c)
                                   : QChar::fromUcs4(QChar::ReplacementCharacter);
    }
    if (text.size() > MaxShown)
        shown += QChar(0x2026);
    return shown + u'"';
}

} // namespace

StepOutcome ComputeStep(qint32 dayTime, const StepInputs &inputs, const QLocale &locale)
{
    StepResult r;

    const qint64 offsetMs = qint64(inputs.offsetUnits) * 100;
    if (offsetMs < std::numeric_limits<qint16>::min()
        || offsetMs > std::numeric_limits<qint16>::max())
        return StepFailure{StepError::IntegerOverflow, StepField::Offset};
    r.offsetMs = static_cast<qint16>(offsetMs);

    const Notation notation(locale);
    const Number periodSeconds = parseNumber(inputs.periodText, locale, notation);
    if (const auto *error = std::get_if<StepError>(&periodSeconds))
        return StepFailure{*error, StepField::Period};
    const double periodExactMs = std::get<double>(periodSeconds) * 1000.0;
    const auto periodMs = roundToInt32(periodExactMs);
    if (const auto *error = std::get_if<StepError>(&periodMs))
        return StepFailure{*error, StepField::Period};
    r.periodMs = std::get<qint32>(periodMs);

    // The division below never sees a divisor under 1: a negative one would count the
    // periods backwards, and -1 traps for the smallest day time.
    if (r.periodMs == 0)
        return StepFailure{StepError::DivisionByZero, StepField::Period};
    if (r.periodMs < 0)
        return StepFailure{StepError::NotPositive, StepField::Period};
    r.periodPositionMs = dayTime % r.periodMs;

    const Number chirptimeSeconds = parseNumber(inputs.chirptimeText, locale, notation);
    if (const auto *error = std::get_if<StepError>(&chirptimeSeconds))
        return StepFailure{*error, StepField::Chirptime};
    const double chirpStartMs = std::get<double>(chirptimeSeconds) * 1000.0;
    if (!std::isfinite(chirpStartMs))
        return StepFailure{StepError::FloatingPoint, StepField::Chirptime};

    // Before the chirp of this period starts, the sweep under way is the previous period's.
    const double position = r.periodPositionMs;
    const auto wrapMs
        = roundToInt32(chirpStartMs > position ? periodExactMs + (position - chirpStartMs)
                                               : position - chirpStartMs);
    if (const auto *error = std::get_if<StepError>(&wrapMs))
        return StepFailure{*error, StepField::Sweep};

    if (qAddOverflow(std::get<qint32>(wrapMs), qint32(r.offsetMs), &r.chirpPositionMs))
        return StepFailure{StepError::IntegerOverflow, StepField::Sweep};
    if (inputs.rateKhzPerS == DefaultRateKhzPerS) {
        if (qMulOverflow(r.chirpPositionMs, HzPerMs, &r.sweepHz))
            return StepFailure{StepError::IntegerOverflow, StepField::Sweep};
    } else {
        // Another rate: the sweep frequency rounded down to a whole hertz.
        const double sweep = std::floor(double(r.chirpPositionMs) * inputs.rateKhzPerS);
        if (!(sweep >= double(std::numeric_limits<qint32>::min())
              && sweep <= double(std::numeric_limits<qint32>::max())))
            return StepFailure{StepError::IntegerOverflow, StepField::Sweep};
        r.sweepHz = qint32(sweep);
    }

    // Past 30 MHz the radio waits at 2 MHz for the next chirp.
    if (r.sweepHz < SweepFloorHz || r.sweepHz > SweepCeilingHz)
        r.sweepHz = SweepFloorHz;

    r.stepHz = r.sweepHz / SweepStepHz * SweepStepHz;
    r.stepText = QString::number(r.stepHz);
    r.chirpPositionText = fixedText(r.chirpPositionMs, 100, 1, notation);
    r.periodPositionText = fixedText(r.periodPositionMs, 100, 1, notation);
    r.frequencyText = fixedText(r.sweepHz, 10'000, 2, notation).append(QLatin1StringView(" MHz"));
    return r;
}

QString describeFailure(const StepFailure &failure, const StepInputs &inputs, const QLocale &locale)
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
    const QString &typed = period ? inputs.periodText : inputs.chirptimeText;
    const QString text = quoted(typed);
    switch (failure.error) {
    case StepError::NotANumber: {
        // "78.5" where the locale writes "78,5", or the other way round.
        const QString point = locale.decimalPoint();
        const QString other = point == u"," ? QStringLiteral(".") : QStringLiteral(",");
        bool ok = false;
        if (point.size() == 1 && typed.count(other) == 1 && !typed.contains(point)) {
            QString swapped = typed;
            locale.toDouble(swapped.replace(other, point), &ok);
        }
        if (ok)
            return QStringLiteral("%1 %2 is not a number; use \"%3\" for decimals.")
                .arg(name, text, point);
        return QStringLiteral("%1 %2 is not a number.").arg(name, text);
    }
    case StepError::DivisionByZero:
        return QStringLiteral("%1 %2 is too short.").arg(name, text);
    case StepError::NotPositive:
        return QStringLiteral("%1 %2 must be more than 0 seconds.").arg(name, text);
    case StepError::IntegerOverflow:
    case StepError::FloatingPoint:
        break;
    }
    return QStringLiteral("%1 %2 is out of range.").arg(name, text);
}

} // namespace Tracking
