// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlplaces.h"

#include "lockablecombobox.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

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

QPoint
ionogramWindowPlace(const QRect &mainFrame, const QSize &ionogramFrame, const QRect &available)
{
    const QRect right(mainFrame.topRight() + QPoint(1 + WindowGap, 0), ionogramFrame);
    const QRect left(QPoint(mainFrame.left() - WindowGap - ionogramFrame.width(), mainFrame.top()),
                     ionogramFrame);
    const int fitX
        = std::clamp(mainFrame.left(),
                     available.left(),
                     std::max(available.left(), available.right() + 1 - ionogramFrame.width()));
    const QRect below(QPoint(fitX, mainFrame.bottom() + 1 + WindowGap), ionogramFrame);
    for (const QRect &place : {right, left, below}) {
        if (available.contains(place))
            return place.topLeft();
    }
    const int edgeX = std::max(available.left(), available.right() + 1 - ionogramFrame.width());
    const QRect top(QPoint(edgeX, available.top()), ionogramFrame);
    const QRect bottom(
        QPoint(edgeX, std::max(available.top(), available.bottom() + 1 - ionogramFrame.height())),
        ionogramFrame);
    const auto hidden = [&mainFrame](const QRect &place) {
        const QRect both = place.intersected(mainFrame);
        return qint64(both.width()) * both.height();
    };
    return hidden(bottom) < hidden(top) ? bottom.topLeft() : top.topLeft();
}

} // namespace Window
