// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "protocol.h"
#include "riglink.h"

// The window's link controls as plain values.
struct FakeLinkControls : Rig::LinkControls
{
    QString host = QStringLiteral("127.0.0.1");
    QString port = QStringLiteral("7809");
    QString status = QStringLiteral("Status");
    qint32 colour = Rig::IndicatorRed;
    QString statusToolTip;
    QString toolTip;

    QString hostText() const override { return host; }
    QString portText() const override { return port; }
    void setStatusCaption(const QString &text) override { status = statusToolTip = text; }
    void setStatusText(const Rig::StatusText &text) override
    {
        status = text.caption;
        statusToolTip = text.whole.isEmpty() ? text.caption : text.whole;
    }
    void setIndicatorColour(qint32 c) override { colour = c; }
    void setIndicatorToolTip(const QString &text) override { toolTip = text; }
};
