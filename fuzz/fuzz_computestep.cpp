// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the settings-to-step computation: day time, offset, locale, period and chirptime
// texts. A step that is computed must be one the radio can be sent.

#include "chirpschedule.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 7)
        return 0;
    qint32 dayTime;
    std::memcpy(&dayTime, data, 4);
    qint16 offsetUnits;
    std::memcpy(&offsetUnits, data + 4, 2);
    static const QLocale locales[] = {QLocale::c(),
                                      QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::French, QLocale::France),
                                      QLocale(QLocale::Arabic, QLocale::Egypt)};
    const QLocale &locale = locales[data[6] % 4];

    const QByteArray texts(reinterpret_cast<const char *>(data + 7), qsizetype(size - 7));
    const qsizetype split = texts.indexOf('\n');
    const Tracking::StepInputs inputs{
        QString::fromUtf8(texts.left(split < 0 ? texts.size() : split)),
        QString::fromUtf8(split < 0 ? QByteArray() : texts.mid(split + 1)),
        offsetUnits};

    const Tracking::StepOutcome outcome = Tracking::ComputeStep(dayTime, inputs, locale);
    if (const auto *failure = std::get_if<Tracking::StepFailure>(&outcome)) {
        if (Tracking::describeFailure(*failure, inputs).size() > 200)
            std::abort();
        return 0;
    }
    const auto &step = std::get<Tracking::StepResult>(outcome);
    bool ok = false;
    const int hz = step.stepText.toInt(&ok);
    if (!ok || hz != step.stepHz || hz % 100'000 != 0 || hz < 2'000'000 || hz > 30'000'000
        || (step.stepText.size() != 7 && step.stepText.size() != 8)
        || step.sweepHz < Tracking::SweepFloorHz || step.sweepHz > Tracking::SweepCeilingHz
        || step.sweepHz - hz >= 100'000 || !step.frequencyText.endsWith(QLatin1StringView(" MHz")))
        std::abort();
    return 0;
}
