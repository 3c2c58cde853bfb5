// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "stepreading.h"
#include "sweepscaling.h"

#include <QImage>
#include <QList>
#include <QString>

#include <optional>

namespace Window {

// One sweep's ionogram with its axes: frequency 2 to 30 MHz across, one column per step,
// delay down (and the group path in km beside it), colour for the SNR of what was heard.
// Columns not measured stay grey; an echo heard outside the drawn delays is marked at the
// column's top or foot.
class IonogramPicture
{
public:
    // A label on the distance scale: its row below the picture's top, and its text.
    struct ScaleMark
    {
        int row = 0;
        QString text;
    };

    // rows: over the delays drawn (50 to MostRows); none: one a tenth of a ms.
    IonogramPicture(double delayFromMs, double delayToMs, int rows = 0);

    // A new sweep: every column empty, and the title it is drawn under.
    void beginSweep(const QString &title);
    void setColumn(const Listen::StepReading &reading);
    // Takes the columns this sweep has not drawn from a picture of it saved earlier (by this
    // program, with the same delays); false when that picture is not such a one.
    bool continueFrom(const QImage &saved);
    bool isEmpty() const { return m_filled == 0; }
    // Marks the one-hop MOF at its column and delay, labelled "MOF 14.3 MHz".
    void markMof(const Listen::ModeReading &mof) { markMof(m_image, mof); }
    // The same on a saved picture of a sweep; false when it is not one with this picture's
    // delays.
    bool markMof(QImage &image, const Listen::ModeReading &mof) const;

    // The distance scale's labels, in km of group path (delay × c), for rows picture rows
    // from delayFromMs to delayToMs.
    static QList<ScaleMark> kmMarks(double delayFromMs, double delayToMs, int rows);

    const QImage &image() const { return m_image; }

    static constexpr int ColumnWidth = 3;
    static constexpr int Left = 56;
    static constexpr int Top = 30;
    static constexpr int Right = 72; // the distance scale
    static constexpr int KmTick = 4; // its ticks' length, right of the picture
    static constexpr int KmLabelWidth = 40;
    static constexpr int MostRows = 500;   // so that the window fits a screen 800 pixels high
    static constexpr int EdgeMarkRows = 5; // an echo beyond the drawn delays
    static constexpr int MofMarkRows = 15;
    static constexpr int MofLabelWidth = 110;
    static constexpr QRgb EdgeMarkColour = 0xff00d0ff;
    static constexpr QRgb MofColour = 0xff00ff00;
    static constexpr int Bottom = 44;
    static constexpr double DbLow = 6; // the colours run from here (dark) to DbHigh (bright)
    static constexpr double DbHigh = 36;

    // The colour for an SNR.
    static QRgb colourFor(double snrDb);

private:
    void drawFrame(const QString &title);
    int rowOf(double delayMs) const;

    double m_delayFromMs;
    double m_delayToMs;
    int m_rows;
    int m_filled = 0;
    QList<bool> m_drawn; // by column
    QImage m_image;
};

} // namespace Window
