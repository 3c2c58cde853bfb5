// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlplaces.h"

#include <array>

namespace Window {
namespace {

constexpr std::array<ControlPlace, 25> Places{{
    {"Label4", {8, 8, 81, 25}},
    {"text2", {96, 8, 121, 27}},
    {"Label2", {8, 48, 57, 17}},
    {"Combo_period", {96, 48, 57, 21}},
    {"Label3", {8, 72, 65, 17}},
    {"chirptime", {96, 72, 33, 19}},
    {"Label6", {8, 96, 49, 17}},
    {"Label10", {8, 112, 81, 17}},
    {"Slider1", {96, 104, 121, 17}},
    {"Label7", {8, 136, 73, 17}},
    {"Text1", {96, 136, 57, 19}},
    {"Command1", {8, 168, 81, 25}},
    {"status", {96, 168, 281, 25}},
    {"Frame1", {224, 8, 153, 153}},
    {"connect", {240, 40, 89, 17}},
    {"disconnect", {240, 56, 89, 17}},
    {"hrdstatus", {336, 40, 25, 33}},
    {"Label8", {16, 88, 33, 17}},
    {"host", {48, 88, 89, 19}},
    {"Label9", {16, 112, 33, 17}},
    {"port", {48, 112, 89, 19}},
    {"Label5", {8, 224, 225, 17}},
    {"Text3", {240, 224, 57, 23}},
    {"Label1", {8, 256, 225, 17}},
    {"Text5", {240, 256, 57, 19}},
}};

} // namespace

std::span<const ControlPlace> controlPlaces()
{
    return Places;
}

} // namespace Window
