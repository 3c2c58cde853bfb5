// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The window, the link and the peers as the tests put them together, made here only.

#include "mainwindow.h"
#include "riglink.h"
#include "testenvironment.h"

#include <QLineEdit>
#include <QPushButton>

// The indicator's colours: 24-bit RGB, red in the low byte.
inline constexpr qint32 Red = 255;
inline constexpr qint32 Green = 65280;

// The status line's words as the user reads them.
inline const QString ReadyToConnect
    = QStringLiteral("Ready to connect, HamRadioDeluxe needs to be running.");
inline const QString Sending = QStringLiteral(" Sending Frequency step to Radio..... ");

// 12:34:56.789 local time: every tick steps to 21.9 MHz.
inline QDateTime fixedNoon()
{
    return QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56, 789));
}

// Clock figures as the test says; by default none, so the clock's health is unknown and
// nothing of this machine's is read.
struct FakeClockSources : Window::ClockSources
{
    std::optional<Tracking::KernelClock> kernelClock;
    QString chronycProgram;

    std::optional<Tracking::KernelClock> kernel() const override { return kernelClock; }
    QString chronyc() const override { return chronycProgram; }
};

// The window as every test makes it. clock gives "now" (the system clock when empty).
class WindowUnderTest : public Window::Main
{
public:
    explicit WindowUnderTest(Tracking::Clock clock = {},
                             Rig::Protocol protocol = Rig::Protocol::HrdText)
        : WindowUnderTest(withProtocol(protocol), std::move(clock))
    {}
    WindowUnderTest(const Window::LaunchOptions &options,
                    Tracking::Clock clock,
                    std::unique_ptr<FakeClockSources> sources
                    = std::make_unique<FakeClockSources>())
        : Main(std::move(clock), std::move(sources), options)
    {}

private:
    static Window::LaunchOptions withProtocol(Rig::Protocol protocol)
    {
        Window::LaunchOptions options;
        options.protocol = protocol;
        return options;
    }
};

// The window's link controls as plain values.
struct FakeLinkControls : Rig::LinkControls
{
    QString host = QStringLiteral("127.0.0.1");
    QString port = QStringLiteral("7809");
    QString status = QStringLiteral("Status");
    QString statusToolTip;
    qint32 colour = Red;
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

// What a station is made of: the rig-control program's language, how its stand-in answers,
// and the window's clock.
struct Setup
{
    Rig::Protocol protocol = Rig::Protocol::HrdText;
    Peer::Behaviour behaviour = Peer::Behaviour::Silent;
    Tracking::Clock clock = fixedNoon;
};

// A stand-in peer listening on loopback, and the window pointed at it.
struct Station
{
    Peer::RigPeer peer;
    WindowUnderTest window;

    explicit Station(Setup setup = {})
        : peer(setup.protocol, setup.behaviour)
        , window(std::move(setup.clock), setup.protocol)
    {
        peer.listen();
        window.controls().port->setText(QString::number(peer.port()));
    }
    // Presses Connect and waits for green.
    bool connectWindow()
    {
        window.controls().connect->click();
        return QTest::qWaitFor([&] { return window.indicatorColour() == Green; });
    }
    // Sends a marker on the open connection and waits for it: whatever the window sent
    // before it has then reached the peer too.
    bool flush()
    {
        const QByteArray marker("marker\r\n");
        return window.Winsock().SendData(marker) == Rig::RigClient::SendResult::Sent
               && QTest::qWaitFor([&] { return peer.received().endsWith(marker); });
    }
};

// The link's handlers with the window's controls as plain values, and the stand-in peer
// they are pointed at (or the given port).
struct LinkRig
{
    Peer::RigPeer peer;
    FakeLinkControls controls;
    Rig::RigClient client;
    Rig::RigLink link;

    explicit LinkRig(Setup setup = {}, quint16 port = 0)
        : peer(setup.protocol, setup.behaviour)
        , link(controls, client, setup.protocol)
    {
        if (port == 0 && peer.listen())
            port = peer.port();
        controls.port = QString::number(port);
    }
    // Presses Connect and waits for green and for the peer, when listening, to hold the
    // connection.
    bool connect()
    {
        link.onConnectClicked();
        return QTest::qWaitFor(
            [this] { return controls.colour == Green && (peer.port() == 0 || peer.open() == 1); });
    }
};
