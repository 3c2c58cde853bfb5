// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlplaces.h"

#include "lockablecombobox.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <array>

namespace Window {
namespace {

// The control's name, the way to it, and its place.
#define PLACE(control, ...)                                                                        \
    ControlPlace{#control, [](const MainControls &c) -> QWidget * { return c.control; }, {__VA_ARGS__}}

const std::array<ControlPlace, 25> Places{{
    PLACE(Label4, 8, 8, 81, 25),
    PLACE(text2, 96, 8, 121, 27),
    PLACE(Label2, 8, 48, 57, 17),
    PLACE(Combo_period, 96, 48, 57, 21),
    PLACE(Label3, 8, 72, 65, 17),
    PLACE(chirptime, 96, 72, 33, 19),
    PLACE(Label6, 8, 96, 49, 17),
    PLACE(Label10, 8, 112, 81, 17),
    PLACE(Slider1, 96, 104, 121, 17),
    PLACE(Label7, 8, 136, 73, 17),
    PLACE(Text1, 96, 136, 57, 19),
    PLACE(Command1, 8, 168, 81, 25),
    PLACE(status, 96, 168, 281, 25),
    PLACE(Frame1, 224, 8, 153, 153),
    PLACE(connect, 240, 40, 89, 17),
    PLACE(disconnect, 240, 56, 89, 17),
    PLACE(hrdstatus, 336, 40, 25, 33),
    PLACE(Label8, 16, 88, 33, 17),
    PLACE(host, 48, 88, 89, 19),
    PLACE(Label9, 16, 112, 33, 17),
    PLACE(port, 48, 112, 89, 19),
    PLACE(Label5, 8, 224, 225, 17),
    PLACE(Text3, 240, 224, 57, 23),
    PLACE(Label1, 8, 256, 225, 17),
    PLACE(Text5, 240, 256, 57, 19),
}};

#undef PLACE

} // namespace

std::span<const ControlPlace> controlPlaces()
{
    return Places;
}

} // namespace Window
