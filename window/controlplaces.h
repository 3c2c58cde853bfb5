// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "maincontrols.h"

#include <QList>
#include <QRect>

class QWidget;

namespace Window {

// Where a control sits, in pixels at 96 dpi (15 twips each), relative to its parent.
struct ControlPlace
{
    QWidget *control;
    QRect pixels;
};

// Every placed control of the main window. host, port, Label8 and Label9 lie in Frame1;
// all others, connect, disconnect and hrdstatus included, in the window.
QList<ControlPlace> controlPlaces(const MainControls &controls);

inline constexpr QSize MainClientSize{384, 202};

// Where the ionogram window's frame goes (its top left) beside the main window's frame, whole
// on the screen's available area: right of it, left of it, below it, or at the area's right
// edge where it hides the least of the main window.
QPoint
ionogramWindowPlace(const QRect &mainFrame, const QSize &ionogramFrame, const QRect &available);
inline constexpr int WindowGap = 8;

} // namespace Window
