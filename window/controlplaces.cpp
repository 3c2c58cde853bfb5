// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlplaces.h"

#include "lockablecombobox.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace Window {

QList<ControlPlace> controlPlaces(const MainControls &c)
{
    return {
        {c.Label4, {8, 8, 81, 25}},       {c.text2, {96, 8, 121, 27}},
        {c.Label2, {8, 48, 57, 17}},      {c.Combo_period, {96, 48, 57, 21}},
        {c.Label3, {8, 72, 65, 17}},      {c.chirptime, {96, 72, 33, 19}},
        {c.Label6, {8, 96, 49, 17}},      {c.Label10, {8, 112, 81, 17}},
        {c.Slider1, {96, 104, 121, 17}},  {c.Label7, {8, 136, 73, 17}},
        {c.Text1, {96, 136, 57, 19}},     {c.Command1, {8, 168, 81, 25}},
        {c.status, {96, 168, 281, 25}},   {c.Frame1, {224, 8, 153, 153}},
        {c.connect, {240, 40, 89, 17}},   {c.disconnect, {240, 56, 89, 17}},
        {c.hrdstatus, {336, 40, 25, 33}}, {c.Label8, {16, 88, 33, 17}},
        {c.host, {48, 88, 89, 19}},       {c.Label9, {16, 112, 33, 17}},
        {c.port, {48, 112, 89, 19}},      {c.Label5, {8, 224, 225, 17}},
        {c.Text3, {240, 224, 57, 23}},    {c.Label1, {8, 256, 225, 17}},
        {c.Text5, {240, 256, 57, 19}},
    };
}

} // namespace Window
