// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "audioclock.h"
#include "chirpdetector.h"
#include "chirpscanner.h"
#include "ringbuffer.h"

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

// Whether a sound server answers: on Linux, whether PulseAudio's socket (PULSE_SERVER, or
// the user's, as PipeWire offers it too) takes a connection; elsewhere always. Qt Multimedia
// is asked nothing before one does: once its PulseAudio engine failed to find a server, it
// never looks again.
bool soundServerAnswers();

// The audio inputs by name, and the one whose name contains `text` (the default input for an
// empty text); none when no input matches or no sound server answers.
QStringList audioInputNames();
// Each input's name, rate and channels, as "radio: 48000 Hz, 1 channel".
QStringList audioInputLines();
std::optional<QAudioDevice> findAudioInput(const QString &text);

// A block of audio turned into samples from -1 to 1, one channel (the channels' mean); or,
// for `iq`, the first two channels' in turn (I, then Q; Q, then I when `swapped`).
void appendSamples(const QAudioFormat &format,
                   const char *data,
                   qsizetype bytes,
                   std::vector<float> &samples,
                   bool iq = false,
                   bool swapped = false);

// The format to ask of an input for `settings`: 48 kHz mono 16-bit audio (the input's own
// rate when the passband reaches beyond 24 kHz), or for I/Q two channels at the input's own
// rate. `preferred` is the input's own format.
QAudioFormat captureFormat(const QAudioFormat &preferred, const DetectorSettings &settings);

// What keeps the input `name`, whose own format is `preferred`, from being heard with
// `settings` (I/Q needs two channels; the passband must fit under half the rate), in a
// sentence; empty when nothing does.
QString
inputMismatch(const QString &name, const QAudioFormat &preferred, const DetectorSettings &settings);

// The input's rate and channels, as --audio-inputs lists them: "48000 Hz, 2 channels".
QString formatText(const QAudioFormat &format);

// What the capture reports about the input.
enum class InputState {
    Listening,     // audio arrives
    NoInput,       // no input, or none with the name asked for
    NoServer,      // no sound server answers (Linux)
    Lost,          // the input went away or failed; tried again
    Silent,        // the input delivers nothing but silence
    Clipping,      // the audio reaches full scale
    Gap,           // samples were lost; the clock mapping started again
    ClockStepped,  // the system clock was stepped; the mapping follows it (clockStepped())
    Unsuitable,    // the input cannot give what is asked (the name is then what is wrong)
    ChannelSilent, // I/Q with one channel silent
};

// Where the dial held a step, in samples from the start of the block that begins at sample
// `blockStart`; the times in ms since the epoch.
struct SampleSpan
{
    double from = 0;
    double to = 0;
};
SampleSpan
dialSpanInBlock(const AudioClock &clock, qint64 blockStart, double dialFromMs, double dialToMs);

// Captures the receiver's audio on the thread it lives on, keeps the last seconds, maps the
// samples to the program's clock and measures each step asked for once its audio is in.
// One lives as long as the program, on a thread of its own (shared()); each listening
// session starts and stops it.
class AudioCapture : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<double()>; // ms since the epoch

    explicit AudioCapture(QObject *parent = nullptr);
    ~AudioCapture() override;

    // The program's capture, on the thread "audio": made at the first call (from the main
    // thread, once the application exists) and ended with the application, so that the
    // sound system's own objects, which stay on the thread that first used them, live on.
    static AudioCapture *shared();

    // Opens the input whose name contains inputText (the default input for an empty text),
    // and again every few seconds while there is none; steps are measured with `settings`
    // on `clock` (the system clock when empty).
    void start(const QString &inputText, const DetectorSettings &settings, Clock clock = {});
    // Measures the step whose chirp is due at arrivalMs, once its audio is in; the dial held
    // the step from dialFromMs to dialToMs (ms since the epoch).
    void measure(qint64 id, double arrivalMs, double dialFromMs, double dialToMs);
    // The sounder's rate changed: the tone the detector looks for changes with it.
    void setRate(double rateKhzPerS);
    // Listens for chirps at these rates crossing the dial at any time, instead of measuring
    // steps; each is reported once, at its best rate.
    void scan(const QList<double> &ratesKhzPerS);

    // Closes the input and forgets the session: what was to be measured is missed.
    void stop();

    static constexpr int RetryMs = 5000;
    static constexpr qint64 KeptMs = 8000;
    // How long a block of audio the sound server is asked to deliver at a time, in µs:
    // PulseAudio (Qt's backend sets the fragment to the buffer size and reads once a
    // fragment) holds seconds of audio for a late reader, so short fragments cost nothing;
    // elsewhere the buffer is all there is.
#ifdef Q_OS_LINUX
    static constexpr qint64 FragmentUs = 10'000;
#else
    static constexpr qint64 FragmentUs = 250'000;
#endif

Q_SIGNALS:
    void stateChanged(Listen::InputState state, const QString &inputName);
    void measured(qint64 id, const Listen::Detection &detection);
    void missed(qint64 id);
    // A chirp crossed the dial: it reached it at arrivalMs (ms since the epoch).
    void heard(double arrivalMs, double rateKhzPerS, double snrDb);
    // The system clock was stepped by stepMs (sent just before the state ClockStepped).
    void clockStepped(double stepMs);

private:
    void open();
    void close(InputState why);
    void readAudio();
    void watch();
    void measureWhatIsIn();
    void scanWhatIsIn();
    // The detector and the finder's scanner for m_settings (the input's rate, the dial's
    // window, the sounder's rate).
    void makeDetector();
    void makeScanners();
    void setState(InputState state);
    void missAll();
    // The detector for a step whose dial holds from fromMs to toMs around the chirp's arrival.
    void useDialWindow(double fromMs, double toMs);
    static constexpr double DialWindowMs = 100;

    QString m_inputText;
    DetectorSettings m_settings; // with the open input's rate and the last step's dial window
    Clock m_clock;
    Clock m_monotonic;
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
    int m_channels = 1; // kept in the ring: 2 for I/Q
    QString m_inputName;
    std::optional<InputState> m_state;

    RingBuffer m_ring; // the last KeptMs of audio, counted from the input's opening
    std::vector<float> m_chunk;
    // On the monotonic clock: when audio last arrived, when it last held more than silence,
    // when it last clipped, lost samples, or the system clock stepped.
    double m_lastAudioMs = 0;
    double m_lastSoundMs = 0;
    double m_lastClipMs = -1e18;
    double m_lastGapMs = -1e18;
    double m_lastStepMs = -1e18;
    double m_lastBothChannelsMs = 0; // I/Q: when both channels last held sound
    struct Pending
    {
        qint64 id;
        double arrivalMs;
        double dialFromMs;
        double dialToMs;
    };
    QList<Pending> m_pending;
};

} // namespace Listen

Q_DECLARE_METATYPE(Listen::InputState)
