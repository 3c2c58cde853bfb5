// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "clockhealth.h"
#include "launchoptions.h"
#include "riglink.h"
#include "tickcycle.h"

#include <QWidget>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace Window {

class LockableComboBox;

// The clock display text: hour, minute and second without leading zeros ("9:5:3").
QString ClockText(const QTime &time);

// 24-bit RGB with red in the low byte (255 red, 65280 green) as a colour, and back.
QColor colourFromRgbInt(qint32 colour);
qint32 rgbIntFromColour(const QColor &colour);

// The window's controls, named as on the screen.
struct MainControls
{
    QLabel *Label4, *Label2, *Label3, *Label6, *Label10, *Label7, *Label8, *Label9, *Label5,
        *Label1;
    QLabel *status;
    QLineEdit *text2, *chirptime, *Text1, *host, *port, *Text3, *Text5;
    LockableComboBox *Combo_period;
    QSlider *Slider1;
    QPushButton *Command1, *connect, *disconnect;
    QGroupBox *Frame1;
    QFrame *hrdstatus;
    QTimer *Timer1, *Timer2;
};

// The one window. It holds every control, the two timers and the TCP client, offers the
// tick cycle and the link the operations they need, and routes the events to them.
class Main : public QWidget, public Tracking::TrackingControls, public Rig::LinkControls
{
    Q_OBJECT

public:
    // clock gives "now" in local time; tests set it. protocol is the rig-control program's
    // language; the port field starts with its default port.
    explicit Main(Tracking::Clock clock = {},
                  Rig::Protocol protocol = Rig::Protocol::HrdText,
                  QWidget *parent = nullptr);
    // The window as the command line starts it; clock as above (read in the options' time
    // base), clockSources where the clock's health is read from (the system's when empty).
    explicit Main(const LaunchOptions &options,
                  Tracking::Clock clock = {},
                  std::unique_ptr<Tracking::ClockSources> clockSources = {},
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
    // Tells the clock's health in Text1's tooltip; Start warns of a bad clock once.
    void showClockHealth(const Tracking::ClockHealth &health);
    // Writes the time of day into Text1.
    void onTimer2Tick();

    // Operations on the controls.
    void appendPeriod(const QString &period);
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
    void setIndicatorColour(qint32 colour) override;
    void setIndicatorToolTip(const QString &text) override;

private:
    void createControls();
    void placeControls();
    void setTabOrder();
    void routeEvents();
    void onCommand1Clicked();
    void labelFields();

    Tracking::Clock m_clock;
    MainControls m_ui{};
    Rig::RigClient m_winsock;
    Tracking::TickCycle m_tickCycle;
    Rig::RigLink m_rigLink;
    LaunchOptions m_options;
    bool m_startWhenConnected = false;
    Tracking::ClockHealth m_clockHealth;
};

} // namespace Window
