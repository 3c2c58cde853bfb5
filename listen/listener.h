// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "audiocapture.h"
#include "soundersearch.h"
#include "stepreading.h"
#include "sweepscaling.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QThread>

#include <optional>
#include <utility>

namespace Listen {

class SweepRecorder;

// What the user chose for listening.
struct ListenOptions
{
    QString inputText;      // the input whose name contains it; empty: the default
    double delayFromMs = 0; // the delays drawn, after the expected arrival
    double delayToMs = 40;
    std::optional<double> audioDelayMs;                // the audio path's own delay, once measured
    QString folder;                                    // where each sweep's CSV and picture go
    double rateKhzPerS = Tracking::DefaultRateKhzPerS; // the sounder's sweep rate
    bool utc = false; // the day is laid out from UTC midnight (local midnight otherwise)
    // The receiver's passband in Hz from the dial (none: 300 to 2700 Hz of audio, or the
    // input's whole band with I/Q), and whether the input is I/Q centred on the dial (Q
    // first when swapped).
    std::optional<std::pair<double, double>> passbandHz;
    bool iq = false;
    bool iqSwapped = false;

    // Finding sounders at a parked dial instead of following one: the dial, and the periods
    // and rates tried.
    std::optional<qint32> findHz;
    QList<double> findPeriodsS;
    QList<double> findRatesKhzPerS;
};

// The default folder for the ionograms: the user's data folder for Zarvotel + /ionograms.
QString defaultIonogramFolder();

// The detector's settings for the options: before the audio path's delay is known, a wide
// search that finds the chirp wherever the path puts it; after, the drawn delays.
DetectorSettings detectorSettingsFor(const ListenOptions &options);

// The delay one row of the ionogram holds: 0.1 ms, or as fine as a wide band resolves
// (half its resolution, down to 5 µs); the rows over the drawn delays (50 to 500); and the
// decimals of the delays written (three once a row is finer than 0.05 ms).
double delayStepMs(const ListenOptions &options);
int delayRows(const ListenOptions &options);
int delayDecimals(const ListenOptions &options);

// Listening beside the tuning: takes each tick's step, asks the capture thread to measure
// the step when the chirp is due, and hands what was heard to the window and the files.
// Nothing here waits: the tick only plans, and the work is done on two threads. One listens
// at a time: the capture and its thread are the program's (AudioCapture::shared()).
class Listener : public QObject
{
    Q_OBJECT

public:
    using Clock = AudioCapture::Clock;

    explicit Listener(const ListenOptions &options, Clock clock = {}, QObject *parent = nullptr);
    ~Listener() override;

    const ListenOptions &options() const { return m_options; }

    // The tick at tickMs (ms since the epoch) computed `step` for `sounder`; reachesRadio:
    // the step went to a connected rig-control program.
    void onStepTaken(qint64 tickMs,
                     const Tracking::StepResult &step,
                     const Tracking::Sounder &sounder,
                     bool reachesRadio = true);
    // Stop: what was still to be measured is dropped, and nothing is tuned.
    void onStopped();
    // What the rig-control program said of the radio's setup (the sideband refused), shown
    // in the status line while listening until it is cleared (empty).
    void setRadioNote(const QString &text);
    // The picture of the sweep that began at sweepStartMs, to be saved beside its CSV.
    void savePicture(qint64 sweepStartMs, const QImage &picture);
    // Asks for the saved picture of the sweep that began at sweepStartMs (pictureLoaded).
    void loadPicture(qint64 sweepStartMs);
    // The sound path's delay is known now (0 to 1000 ms): only the drawn delays are searched,
    // and the steps still to be measured are dropped.
    void setAudioDelay(double ms);

    QString status() const { return m_status; }
    // Finding sounders at the parked dial; null when following one. It ends when the tuning
    // starts.
    SounderSearch *finding() const { return m_finding; }

Q_SIGNALS:
    void sweepBegun(qint64 sweepStartMs);
    void stepHeard(const Listen::StepReading &reading);
    void statusChanged(const QString &text);
    // The files cannot be written (the whole text), or can again (empty).
    void fileProblem(const QString &text);
    // The picture saved of a sweep, as loadPicture asked.
    void pictureLoaded(qint64 sweepStartMs, const QImage &picture);
    // A sweep ended and was scaled from its file; its row is in the day's summary.
    void sweepScaled(const Listen::SweepSummary &summary);
    // The day plot of the day a sweep ended in, drawn again with that sweep.
    void dayPlotChanged(const QImage &plot);

private:
    // What the tuning does: stopped, or its steps not reaching the radio.
    enum class Tuning { Stopped, NoLink, Tuned };
    void setTuning(Tuning tuning);
    void onMeasured(qint64 id, const Listen::Detection &detection);
    void onInputState(Listen::InputState state, const QString &inputName);
    void updateStatus();
    // Starts the capture with the options' settings at the sounder's rate, and the finder's
    // scan while it runs.
    void startCapture();
    // The sweep that began at sweepStartMs is over: scaled once, from its file.
    void finishSweep(qint64 sweepStartMs);

    ListenOptions m_options;
    Clock m_clock;
    QThread m_fileThread;
    AudioCapture *m_capture = nullptr; // the program's, on its own thread
    SweepRecorder *m_recorder = nullptr;
    qint64 m_nextId = 0;
    QHash<qint64, PlannedStep> m_pending;
    std::optional<qint64> m_sweepStartMs;
    QList<qint32> m_plannedDials; // in the current sweep
    InputState m_inputState = InputState::NoInput;
    double m_clockStepMs = 0; // the system clock's last step
    QString m_inputName;
    std::optional<StepReading> m_lastReading;
    double m_rateKhzPerS = Tracking::DefaultRateKhzPerS; // the capture listens for it
    Tuning m_tuning = Tuning::Stopped;
    QString m_radioNote;
    QList<bool> m_fallingSteps; // whether each of the last steps heard a falling chirp
    bool m_lowerSideband = false;
    QString m_status;
    Tracking::Sounder m_sweepSounder; // the current sweep's
    std::optional<qint64> m_finishedSweepMs;
    QString m_sweepText; // the last sweep scaled, said under the status
    SounderSearch *m_finding = nullptr;
};

} // namespace Listen
