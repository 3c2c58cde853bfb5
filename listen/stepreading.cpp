// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "stepreading.h"

#include <QDateTime>

#include <cmath>

namespace Listen {

namespace {

// A number with `decimals` decimals, never "-0.00".
QByteArray fixed(double value, int decimals)
{
    QByteArray text = QByteArray::number(value, 'f', decimals);
    if (text.startsWith('-') && text.count('0') == text.size() - 2)
        text.remove(0, 1);
    return text;
}

} // namespace

QString sweepFileStem(qint64 sweepStartMs)
{
    return QDateTime::fromMSecsSinceEpoch(sweepStartMs, Qt::UTC)
        .toString(QStringLiteral("yyyyMMdd-HHmmss'Z'"));
}

QByteArray csvHeader()
{
    return QByteArrayLiteral("time_utc,frequency_hz,snr_db,delays_ms\n");
}

QByteArray csvRow(const StepReading &reading)
{
    QByteArray row = QDateTime::fromMSecsSinceEpoch(std::llround(reading.step.arrivalMs), Qt::UTC)
                         .toString(Qt::ISODateWithMs)
                         .toLatin1();
    row += ',';
    row += QByteArray::number(reading.step.dialHz);
    row += ',';
    row += fixed(reading.snrDb, 1);
    row += ',';
    for (qsizetype i = 0; i < reading.echoes.size(); ++i) {
        if (i > 0)
            row += ' ';
        row += fixed(reading.echoes[i].delayMs, reading.delayDecimals);
    }
    row += '\n';
    return row;
}

} // namespace Listen
