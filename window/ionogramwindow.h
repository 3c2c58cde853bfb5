// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ionogrampicture.h"
#include "listener.h"

#include <QWidget>

#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

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

    // Takes a found sounder over into the main window; false when it cannot now.
    using Follow = std::function<bool(const Listen::FoundSounder &sounder)>;
    void setFollow(Follow follow) { m_follow = std::move(follow); }

    const IonogramPicture &picture() const { return m_picture; }
    QListWidget *sounderList() const { return m_sounderList; }
    // Follows the sounder on the list's current row, and shows its ionogram.
    void onFollowClicked();
    QString statusText() const;
    QString fileProblemText() const;

    void onSweepBegun(qint64 sweepStartMs);
    void onStepHeard(const Listen::StepReading &reading);
    // A picture saved of a sweep, perhaps by this window before it was closed and opened.
    void onPictureLoaded(qint64 sweepStartMs, const QImage &saved);
    // The finder's sounders changed: the list shows them as they are now.
    void onSoundersChanged();

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void saveSweep();
    // The picture instead of the list of sounders.
    void showPicture();

    Listen::Listener &m_listener;
    std::function<QString()> m_scheduleText;
    IonogramPicture m_picture;
    QWidget *m_view = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_fileProblem = nullptr;
    QListWidget *m_sounderList = nullptr;
    QPushButton *m_followButton = nullptr;
    QList<Listen::FoundSounder> m_sounders; // the list's rows
    Follow m_follow;
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
