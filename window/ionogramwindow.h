// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ionogrampicture.h"
#include "listener.h"

#include <QWidget>

#include <functional>

class QLabel;

namespace Window {

// The ionogram window: the sweep's picture as it fills, a status line that says what is
// heard, and a line for trouble with the files. Each finished sweep's picture is saved.
class IonogramWindow : public QWidget
{
    Q_OBJECT

public:
    // scheduleText gives the sounder's "period:chirptime" for the picture's title.
    IonogramWindow(Listen::Listener &listener,
                   std::function<QString()> scheduleText,
                   QWidget *parent = nullptr);
    ~IonogramWindow() override;

    const IonogramPicture &picture() const { return m_picture; }
    QString statusText() const;
    QString fileProblemText() const;

    void onSweepBegun(qint64 sweepStartMs);
    void onStepHeard(const Listen::StepReading &reading);

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void saveSweep();

    Listen::Listener &m_listener;
    std::function<QString()> m_scheduleText;
    IonogramPicture m_picture;
    QWidget *m_view = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_fileProblem = nullptr;
    qint64 m_sweepStartMs = 0;
    bool m_unsaved = false;
};

// Listening and its window together, for as long as the window is open.
class ListenSession : public QObject
{
    Q_OBJECT

public:
    ListenSession(const Listen::ListenOptions &options,
                  std::function<QString()> scheduleText,
                  QObject *parent = nullptr);
    ~ListenSession() override;

    Listen::Listener &listener() { return *m_listener; }
    IonogramWindow &window() { return *m_window; }

private:
    Listen::Listener *m_listener;
    std::unique_ptr<IonogramWindow> m_window;
};

} // namespace Window
