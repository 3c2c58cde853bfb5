// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "stepreading.h"

#include <QImage>
#include <QList>
#include <QString>

#include <optional>

namespace Window {

// One sweep's ionogram with its axes: frequency 2 to 30 MHz across, one column per step,
// delay down, colour for the SNR of what was heard. Columns not measured stay grey.
class IonogramPicture
{
public:
    IonogramPicture(double delayFromMs, double delayToMs);

    // A new sweep: every column empty, and the title it is drawn under.
    void beginSweep(const QString &title);
    void setColumn(const Listen::StepReading &reading);
    // Takes the columns this sweep has not drawn from a picture of it saved earlier (by this
    // program, with the same delays); false when that picture is not such a one.
    bool continueFrom(const QImage &saved);
    bool isEmpty() const { return m_filled == 0; }

    const QImage &image() const { return m_image; }

    static constexpr int ColumnWidth = 3;
    static constexpr int Left = 56;
    static constexpr int Top = 30;
    static constexpr int Right = 36;
    static constexpr int Bottom = 44;
    static constexpr double DbLow = 6; // the colours run from here (dark) to DbHigh (bright)
    static constexpr double DbHigh = 36;

    // The colour for an SNR.
    static QRgb colourFor(double snrDb);

private:
    void drawFrame(const QString &title);

    double m_delayFromMs;
    double m_delayToMs;
    int m_rows;
    int m_filled = 0;
    QList<bool> m_drawn; // by column
    QImage m_image;
};

} // namespace Window
