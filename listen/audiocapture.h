// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "audioclock.h"
#include "chirpdetector.h"
#include "chirpscanner.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAudioSource;
class QMediaDevices;
class QIODevice;
class QTimer;

namespace Listen {

// The audio inputs by name, and the one whose name contains `text` (the default input for an
// empty text); none when no input matches.
QStringList audioInputNames();
std::optional<QAudioDevice> findAudioInput(const QString &text);

// A block of audio turned into samples from -1 to 1, one channel (the channels' mean).
void appendSamples(const QAudioFormat &format,
                   const char *data,
                   qsizetype bytes,
                   std::vector<float> &samples);

// What the capture reports about the input.
enum class InputState {
    Listening, // audio arrives
    NoInput,   // no input, or none with the name asked for
    Lost,      // the input went away or failed; tried again
    Silent,    // the input delivers nothing but silence
    Clipping,  // the audio reaches full scale
    Gap,       // samples were lost; the clock mapping started again
};

// Captures the receiver's audio on the thread it lives on, keeps the last seconds, maps the
// samples to the program's clock and measures each step asked for once its audio is in.
class AudioCapture : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<double()>; // ms since the epoch

    AudioCapture(const QString &inputText,
                 const DetectorSettings &settings,
                 Clock clock,
                 QObject *parent = nullptr);
    ~AudioCapture() override;

    // Opens the input (and again every few seconds while there is none).
    void start();
    // Measures the step whose chirp is due at arrivalMs, once its audio is in.
    void measure(qint64 id, double arrivalMs);
    // The sounder's rate changed: the tone the detector looks for changes with it.
    void setRate(double rateKhzPerS);
    // Listens for chirps at these rates crossing the dial at any time, instead of measuring
    // steps; each is reported once, at its best rate.
    void scan(const QList<double> &ratesKhzPerS);

    void stop();

    static constexpr int RetryMs = 5000;
    static constexpr qint64 KeptMs = 8000;

Q_SIGNALS:
    void stateChanged(Listen::InputState state, const QString &inputName);
    void measured(qint64 id, const Listen::Detection &detection);
    void missed(qint64 id);
    // A chirp crossed the dial: it reached it at arrivalMs (ms since the epoch).
    void heard(double arrivalMs, double rateKhzPerS, double snrDb);

private:
    void open();
    void close(InputState why);
    void readAudio();
    void watch();
    void measureWhatIsIn();
    void scanWhatIsIn();
    void makeScanners(int sampleRate);
    void setState(InputState state);

    QString m_inputText;
    DetectorSettings m_settings;
    Clock m_clock;
    std::unique_ptr<ChirpDetector> m_detector;
    QList<double> m_scanRates;
    std::unique_ptr<ChirpScanner> m_scanner;
    qint64 m_scannedTo = 0; // samples already scanned
    std::optional<AudioClock> m_audioClock;
    QAudioSource *m_source = nullptr;
    QIODevice *m_device = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_watch = nullptr;
    QMediaDevices *m_devices = nullptr;
    QByteArray m_inputId;
    QAudioFormat m_format;
    QString m_inputName;
    std::optional<InputState> m_state;

    std::vector<float> m_ring; // the last KeptMs of audio
    std::vector<float> m_chunk;
    qint64 m_samples = 0;     // samples taken since the input opened
    double m_lastAudioMs = 0; // when audio last arrived
    double m_lastSoundMs = 0; // when the audio last held more than silence
    double m_lastClipMs = -1e18;
    double m_lastGapMs = -1e18;
    struct Pending
    {
        qint64 id;
        double arrivalMs;
    };
    QList<Pending> m_pending;
};

} // namespace Listen

Q_DECLARE_METATYPE(Listen::InputState)
