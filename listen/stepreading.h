// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "chirpdetector.h"
#include "sweepplan.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace Listen {

// What one step of a sweep sounded like: the echoes (delays after the expected arrival, the
// audio path's own delay taken off), and the correlation over the drawn delays.
struct StepReading
{
    PlannedStep step;
    QList<Echo> echoes; // strongest first
    double snrDb = 0;   // the strongest echo's, or the noise's strongest peak
    QList<float> profileDb;
    int delayDecimals = 2; // in the CSV: three where a wide band resolves finer
};

// The ionogram file of a sweep: its name without the extension, from the UTC time at which
// the sweep passes 0 Hz ("20261208-031800Z").
QString sweepFileStem(qint64 sweepStartMs);

// The CSV's first line, and one step's line, each with its line end.
QByteArray csvHeader();
QByteArray csvRow(const StepReading &reading);

} // namespace Listen

Q_DECLARE_METATYPE(Listen::StepReading)
