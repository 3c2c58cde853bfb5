// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace Window {

class LockableComboBox;

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

} // namespace Window
