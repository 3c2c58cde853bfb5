// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ionogrampicture.h"
#include "listener.h"
#include "soundpath.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace Window {

// The ionogram window: the sweep's picture as it fills and the day plot on a second page, a
// status line that says what is heard, a line for trouble with the files, and help with the
// sound path's delay while it is not known. Each finished sweep's picture is saved, with its
// MOF marked once the sweep is scaled.
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
    // Keeps listening's settings once the user chose the sound path's delay here.
    using Keep = std::function<void(const Listen::ListenOptions &options)>;
    void setKeep(Keep keep) { m_keep = std::move(keep); }

    const IonogramPicture &picture() const { return m_picture; }
    QListWidget *sounderList() const { return m_sounderList; }
    // Follows the sounder on the list's current row, and shows its ionogram.
    void onFollowClicked();
    QString statusText() const;
    QString fileProblemText() const;
    QTabWidget *pages() const { return m_pages; }
    // The Day page's words, or empty while it shows the plot.
    QString dayText() const;
    // The help with the sound path's delay, empty while there is none, and its button.
    QString soundPathHelpText() const;
    QPushButton *useDelayButton() const { return m_useDelay; }

    void onSweepBegun(qint64 sweepStartMs);
    void onStepHeard(const Listen::StepReading &reading);
    // A picture saved of a sweep, perhaps by this window before it was closed and opened.
    void onPictureLoaded(qint64 sweepStartMs, const QImage &saved);
    // The finder's sounders changed: the list shows them as they are now.
    void onSoundersChanged();
    // A sweep was scaled: its picture gets its MOF, and is saved again.
    void onSweepScaled(const Listen::SweepSummary &summary);
    void onDayPlotChanged(const QImage &plot);
    // Takes the sound path's delay the help found, now and for the next runs.
    void onUseDelayClicked();

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void saveSweep();
    // The picture instead of the list of sounders.
    void showPicture();
    void updateSoundPathHelp();
    void keepOnScreen();

    Listen::Listener &m_listener;
    std::function<QString()> m_scheduleText;
    IonogramPicture m_picture;
    QWidget *m_view = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_fileProblem = nullptr;
    QListWidget *m_sounderList = nullptr;
    QPushButton *m_followButton = nullptr;
    QTabWidget *m_pages = nullptr;
    QLabel *m_day = nullptr;
    QLabel *m_soundPathHelp = nullptr;
    QPushButton *m_useDelay = nullptr;
    QList<double> m_recentEchoesMs; // the strongest echo of each recent heard step
    std::optional<Listen::SoundPathAdvice> m_advice;
    // A sweep scaled after the next began, and its MOF, while its picture is on its way back.
    struct MofToMark
    {
        qint64 sweepStartMs = 0;
        Listen::ModeReading mof;
    };
    std::optional<MofToMark> m_mofToMark;
    Keep m_keep;
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
