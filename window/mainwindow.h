// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "clockwatcher.h"
#include "ionogramwindow.h"
#include "launchintent.h"
#include "launchoptions.h"
#include "maincontrols.h"
#include "riglink.h"
#include "tickcycle.h"

#include <QPointer>
#include <QWidget>

namespace Window {

// The clock display text: hour, minute and second without leading zeros ("9:5:3").
QString ClockText(const QTime &time);

// 24-bit RGB with red in the low byte (255 red, 65280 green) as a colour, and back.
QColor colourFromRgbInt(qint32 colour);
qint32 rgbIntFromColour(const QColor &colour);

// The one window. It holds every control, the two timers and the TCP client, offers the
// tick cycle and the link the operations they need, and routes the events to them.
class Main : public QWidget, public Tracking::TrackingControls, public Rig::LinkControls
{
    Q_OBJECT

public:
    // clock gives "now" (read in the options' time base; the system clock when empty),
    // clockSources where the clock's health is read from; options as the command line says.
    Main(Tracking::Clock clock,
         std::unique_ptr<ClockSources> clockSources,
         const LaunchOptions &options = {},
         QWidget *parent = nullptr);
    ~Main() override;

    const MainControls &controls() const { return m_ui; }
    Rig::RigClient &Winsock() { return m_winsock; }
    Tracking::TickCycle &tickCycle() { return m_tickCycle; }
    Rig::RigLink &rigLink() { return m_rigLink; }

    // Fills the list of periods; runs once, when the window is created.
    void onLoad();
    // Presses Connect and Start as the launch options say; call once the window is shown.
    void pressLaunchButtons();
    // Tells the clock's health in Text1's tooltip; a clock known to be unfit turns the time red.
    void showClockHealth(const Tracking::ClockHealth &health);
    // Writes the time of day into Text1.
    void onTimer2Tick();
    // Opens the ionogram window and listens to the receiver (or shows the window again).
    void startListening();
    ListenSession *listenSession() const { return m_listening; }
    // Takes a found sounder's period, chirptime and rate over; only while stopped.
    bool followSounder(const Listen::FoundSounder &sounder);
    // The user's clicks on the four buttons.
    void onCommand1Clicked();
    void onConnectClicked();
    void onDisconnectClicked();

    // Operations on the controls.
    bool isTimer1Enabled() const;
    qint32 indicatorColour() const;
    QString statusCaption() const;

    QString command1Caption() const override;
    void setCommand1Caption(const QString &caption) override;
    void setTimer1Enabled(bool enabled) override;
    void setSettingsLocked(bool locked) override;
    int slider1Value() const override;
    QString periodText() const override;
    QString chirptimeText() const override;
    void showStep(const Tracking::StepResult &step) override;
    void showProblem(const QString &text) override;

    QString hostText() const override;
    QString portText() const override;
    void setStatusCaption(const QString &text) override;
    void setStatusText(const Rig::StatusText &text) override;
    void setIndicatorColour(qint32 colour) override;
    void setIndicatorToolTip(const QString &text) override;

private:
    void createControls();
    void placeControls();
    void orderTabs();
    void routeEvents();
    void labelFields();

    Tracking::Clock m_clock;
    MainControls m_ui{};
    Rig::RigClient m_winsock;
    Tracking::TickCycle m_tickCycle;
    Rig::RigLink m_rigLink;
    LaunchIntent m_launch;
    Listen::ListenOptions m_listenOptions;
    QString m_settingsPath; // where listening's settings are kept; empty: nowhere
    std::optional<qint32> m_findHz;
    QPointer<ListenSession> m_listening;
};

} // namespace Window
