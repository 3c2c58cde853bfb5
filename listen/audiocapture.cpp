// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audiocapture.h"

#include <QAudioSource>
#include <QCoreApplication>
#include <QLocalSocket>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

namespace Listen {

namespace {

constexpr int WantedRate = 48000;
constexpr double SilentAfterMs = 3000;  // no sound for this long is said
constexpr double StalledAfterMs = 3000; // no audio at all for this long is a lost input
constexpr double ShownForMs = 5000;     // a clip or a gap stays said this long
constexpr float Silence = 1e-5f;        // -100 dB of full scale
constexpr float FullScale = 0.999f;
// The two clocks are read again when reading both took longer than this (a preemption).
constexpr double ClockReadMs = 0.05;

double systemClockMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

double monotonicClockMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

AudioCapture *sharedCapture = nullptr;
QThread *sharedThread = nullptr;

void endSharedCapture()
{
    if (!sharedCapture)
        return;
    QMetaObject::invokeMethod(
        sharedCapture,
        [] {
            delete sharedCapture;
            sharedCapture = nullptr;
        },
        Qt::BlockingQueuedConnection);
    sharedThread->quit();
    sharedThread->wait();
    delete sharedThread;
    sharedThread = nullptr;
}

// Whether the input is heard at its own rate: I/Q, or audio whose passband reaches beyond
// what 48 kHz holds; otherwise at 48 kHz.
bool atOwnRate(const DetectorSettings &settings)
{
    return settings.iq || (std::isfinite(settings.highHz) && settings.highHz > WantedRate / 2);
}

template<typename T> T sampleAt(const char *data)
{
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

} // namespace

bool soundServerAnswers()
{
#ifdef Q_OS_LINUX
    // Where libpulse looks: PULSE_SERVER (a list, tried in turn), else the user's runtime
    // folder, else the system-wide server's.
    QStringList sockets;
    const QByteArray server = qgetenv("PULSE_SERVER");
    if (!server.isEmpty()) {
        for (QByteArray address : server.split(' ')) {
            if (address.startsWith('{'))
                address = address.mid(address.indexOf('}') + 1);
            if (address.isEmpty())
                continue;
            if (address.startsWith("unix:"))
                sockets.append(QString::fromLocal8Bit(address.mid(5)));
            else if (address.startsWith('/'))
                sockets.append(QString::fromLocal8Bit(address));
            else
                return true; // a network server: Qt is left to find it
        }
    } else {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty())
            sockets.append(QString::fromLocal8Bit(runtime) + QStringLiteral("/pulse/native"));
        sockets.append(QStringLiteral("/var/run/pulse/native"));
    }
    for (const QString &path : std::as_const(sockets)) {
        // A local socket answers or refuses at once.
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(1000))
            return true;
    }
    return false;
#else
    return true;
#endif
}

QStringList audioInputNames()
{
    if (!soundServerAnswers())
        return {};
    QStringList names;
    for (const QAudioDevice &device : QMediaDevices::audioInputs())
        names.append(device.description());
    return names;
}

QStringList audioInputLines()
{
    if (!soundServerAnswers())
        return {};
    QStringList lines;
    for (const QAudioDevice &device : QMediaDevices::audioInputs())
        lines.append(device.description() + QStringLiteral(": ")
                     + formatText(device.preferredFormat()));
    return lines;
}

std::optional<QAudioDevice> findAudioInput(const QString &text)
{
    if (!soundServerAnswers())
        return std::nullopt;
    if (text.isEmpty()) {
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        return device.isNull() ? std::nullopt : std::optional(device);
    }
    for (const QAudioDevice &device : QMediaDevices::audioInputs()) {
        if (device.description().contains(text, Qt::CaseInsensitive)
            || QString::fromUtf8(device.id()).contains(text, Qt::CaseInsensitive))
            return device;
    }
    return std::nullopt;
}

void appendSamples(const QAudioFormat &format,
                   const char *data,
                   qsizetype bytes,
                   std::vector<float> &samples,
                   bool iq,
                   bool swapped)
{
    const int channels = std::max(format.channelCount(), 1);
    const int width = format.bytesPerSample();
    if (width <= 0 || (iq && channels < 2))
        return;
    const auto valueAt = [&](const char *at) -> double {
        switch (format.sampleFormat()) {
        case QAudioFormat::UInt8:
            return (double(sampleAt<quint8>(at)) - 128) / 128;
        case QAudioFormat::Int16:
            return double(sampleAt<qint16>(at)) / 32768;
        case QAudioFormat::Int32:
            return double(sampleAt<qint32>(at)) / 2147483648.0;
        case QAudioFormat::Float:
            return double(sampleAt<float>(at));
        default:
            return 0;
        }
    };
    const qsizetype frames = bytes / (qsizetype(width) * channels);
    samples.reserve(samples.size() + size_t(frames) * (iq ? 2 : 1));
    for (qsizetype f = 0; f < frames; ++f) {
        const char *frame = data + f * channels * width;
        if (iq) {
            const float i = float(valueAt(frame));
            const float q = float(valueAt(frame + width));
            samples.push_back(swapped ? q : i);
            samples.push_back(swapped ? i : q);
            continue;
        }
        double sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += valueAt(frame + c * width);
        samples.push_back(float(sum / channels));
    }
}

QAudioFormat captureFormat(const QAudioFormat &preferred, const DetectorSettings &settings)
{
    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::Int16);
    format.setSampleRate(atOwnRate(settings) ? preferred.sampleRate() : WantedRate);
    format.setChannelCount(settings.iq ? 2 : 1);
    return format;
}

QString
inputMismatch(const QString &name, const QAudioFormat &preferred, const DetectorSettings &settings)
{
    if (settings.iq && preferred.channelCount() < 2)
        return QStringLiteral("%1 gives one channel: I/Q needs two (I left, Q right).").arg(name);
    // Audio at 48 kHz is resampled from whatever the input runs at.
    DetectorSettings heard = settings;
    heard.sampleRate = atOwnRate(settings) ? preferred.sampleRate() : WantedRate;
    const auto [lowHz, highHz] = passbandOf(heard);
    const double reachHz = std::max(highHz, -lowHz);
    if (reachHz > heard.sampleRate / 2.0)
        return QStringLiteral("%1 runs at %2 Hz: the passband asked for reaches %3 Hz, more "
                              "than half of that.")
            .arg(name)
            .arg(preferred.sampleRate())
            .arg(reachHz, 0, 'f', 0);
    return {};
}

QString formatText(const QAudioFormat &format)
{
    return QStringLiteral("%1 Hz, %2 %3")
        .arg(format.sampleRate())
        .arg(format.channelCount())
        .arg(format.channelCount() == 1 ? QStringLiteral("channel") : QStringLiteral("channels"));
}

SampleSpan
dialSpanInBlock(const AudioClock &clock, qint64 blockStart, double dialFromMs, double dialToMs)
{
    return {clock.sampleAt(dialFromMs) - double(blockStart),
            clock.sampleAt(dialToMs) - double(blockStart)};
}

AudioCapture::AudioCapture(QObject *parent)
    : QObject(parent)
    , m_clock(systemClockMs)
    , m_monotonic(monotonicClockMs)
{}

AudioCapture::~AudioCapture()
{
    close(InputState::NoInput);
}

AudioCapture *AudioCapture::shared()
{
    if (!sharedCapture) {
        sharedThread = new QThread;
        sharedThread->setObjectName(QStringLiteral("audio"));
        sharedCapture = new AudioCapture;
        sharedCapture->moveToThread(sharedThread);
        sharedThread->start();
        qAddPostRoutine(endSharedCapture);
    }
    return sharedCapture;
}

void AudioCapture::start(const QString &inputText, const DetectorSettings &settings, Clock clock)
{
    stop();
    m_inputText = inputText;
    m_settings = settings;
    m_clock = clock ? std::move(clock) : Clock(systemClockMs);
    m_detector.reset();
    m_state.reset();
    if (!m_retry) {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        m_retry->setInterval(RetryMs);
        connect(m_retry, &QTimer::timeout, this, &AudioCapture::open);
        m_watch = new QTimer(this);
        m_watch->setInterval(1000);
        connect(m_watch, &QTimer::timeout, this, &AudioCapture::watch);
    }
    open();
}

void AudioCapture::stop()
{
    if (m_retry)
        m_retry->stop();
    if (m_watch)
        m_watch->stop();
    close(InputState::NoInput);
    m_scanRates.clear();
    m_scanner.reset();
}

void AudioCapture::open()
{
    // Qt Multimedia is asked only once a sound server answers (see soundServerAnswers()).
    if (!soundServerAnswers()) {
        setState(InputState::NoServer);
        m_retry->start();
        return;
    }
    if (!m_devices) {
        // An input unplugged is closed at once, not when its audio is missed.
        m_devices = new QMediaDevices(this);
        connect(m_devices, &QMediaDevices::audioInputsChanged, this, [this] {
            if (!m_source)
                return;
            const auto inputs = QMediaDevices::audioInputs();
            if (std::none_of(inputs.cbegin(), inputs.cend(), [this](const QAudioDevice &device) {
                    return device.id() == m_inputId;
                }))
                close(InputState::Lost);
        });
    }
    const auto device = findAudioInput(m_inputText);
    if (!device) {
        setState(InputState::NoInput);
        m_retry->start();
        return;
    }
    m_inputName = device->description();
    m_inputId = device->id();
    // An input that cannot give what is asked is said, and looked at again (another may take
    // its name, or its format change).
    if (const QString why = inputMismatch(m_inputName, device->preferredFormat(), m_settings);
        !why.isEmpty()) {
        m_inputName = why;
        setState(InputState::Unsuitable);
        m_retry->start();
        return;
    }
    // The input's own format when it takes no other (its first two channels are I and Q).
    QAudioFormat format = captureFormat(device->preferredFormat(), m_settings);
    if (!device->isFormatSupported(format))
        format = device->preferredFormat();
    m_format = format;
    m_channels = m_settings.iq ? 2 : 1;
    if (!m_detector || m_settings.sampleRate != format.sampleRate()) {
        m_settings.sampleRate = format.sampleRate();
        makeDetector();
    }
    m_ring = RingBuffer(
        m_channels
        * std::max<qint64>(KeptMs * format.sampleRate() / 1000, 2 * m_detector->blockSamples()));
    m_scannedTo = 0;
    m_audioClock.emplace(format.sampleRate());
    makeScanners();

    m_source = new QAudioSource(*device, format, this);
    m_source->setBufferSize(format.bytesForDuration(FragmentUs));
    // Closed from the event loop, never inside the source's own signal.
    connect(m_source,
            &QAudioSource::stateChanged,
            this,
            [this, source = m_source](QAudio::State state) {
                if (state == QAudio::StoppedState && source->error() != QAudio::NoError)
                    QMetaObject::invokeMethod(
                        this,
                        [this, source] {
                            if (m_source == source)
                                close(InputState::Lost);
                        },
                        Qt::QueuedConnection);
            });
    m_device = m_source->start();
    if (!m_device || m_source->error() != QAudio::NoError) {
        close(InputState::Lost);
        return;
    }
    connect(m_device, &QIODevice::readyRead, this, &AudioCapture::readAudio);
    const double now = m_monotonic();
    m_lastAudioMs = now;
    m_lastSoundMs = now;
    m_lastClipMs = -1e18;
    m_lastGapMs = -1e18;
    m_lastStepMs = -1e18;
    m_lastBothChannelsMs = now;
    m_watch->start();
    setState(InputState::Listening);
}

void AudioCapture::missAll()
{
    for (const Pending &p : std::as_const(m_pending))
        Q_EMIT missed(p.id);
    m_pending.clear();
}

void AudioCapture::close(InputState why)
{
    QAudioSource *source = std::exchange(m_source, nullptr);
    m_device = nullptr;
    missAll();
    m_audioClock.reset();
    if (m_watch)
        m_watch->stop();
    setState(why);
    if (why == InputState::Lost && m_retry)
        m_retry->start();
    if (source) {
        source->disconnect(this);
        source->stop();
        // Deleted now, not later: the source's destructor runs the thread's pending events,
        // and two sources' destructors running each other's crash. Everything above is
        // settled before it does.
        delete source;
    }
}

void AudioCapture::readAudio()
{
    if (!m_device)
        return;
    const QByteArray bytes = m_device->readAll();
    if (bytes.isEmpty())
        return;
    // Both clocks at one moment: read again when something came between them.
    double monotonic = 0;
    double clock = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        monotonic = m_monotonic();
        clock = m_clock();
        if (m_monotonic() - monotonic < ClockReadMs)
            break;
    }
    m_chunk.clear();
    appendSamples(
        m_format, bytes.constData(), bytes.size(), m_chunk, m_settings.iq, m_settings.iqSwapped);
    if (m_chunk.empty())
        return;
    m_ring.append(m_chunk);

    float loudest = 0;
    std::array<float, 2> loudestOf{0, 0}; // I's and Q's
    for (size_t n = 0; n < m_chunk.size(); ++n) {
        const float level = std::abs(m_chunk[n]);
        loudest = std::max(loudest, level);
        loudestOf[n % 2] = std::max(loudestOf[n % 2], level);
    }
    m_lastAudioMs = monotonic;
    if (loudest > Silence)
        m_lastSoundMs = monotonic;
    if (m_channels == 1 || std::min(loudestOf[0], loudestOf[1]) > Silence)
        m_lastBothChannelsMs = monotonic;
    if (loudest >= FullScale)
        m_lastClipMs = monotonic;
    const AudioClock::Observed observed
        = m_audioClock->observe(m_ring.total() / m_channels, monotonic, clock);
    if (observed.clockStepMs) {
        // The steps asked for were timed on the clock before the step.
        for (Pending &p : m_pending) {
            p.arrivalMs += *observed.clockStepMs;
            p.dialFromMs += *observed.clockStepMs;
            p.dialToMs += *observed.clockStepMs;
        }
        m_lastStepMs = monotonic;
        Q_EMIT clockStepped(*observed.clockStepMs);
        setState(InputState::ClockStepped);
    }
    if (observed.lost) {
        // What was waiting for audio across the gap cannot be placed in time.
        missAll();
        m_lastGapMs = monotonic;
        setState(InputState::Gap);
    }
    measureWhatIsIn();
    scanWhatIsIn();
}

void AudioCapture::watch()
{
    const double now = m_monotonic();
    if (now - m_lastAudioMs > StalledAfterMs) {
        close(InputState::Lost);
        return;
    }
    if (now - m_lastSoundMs > SilentAfterMs)
        setState(InputState::Silent);
    else if (now - m_lastBothChannelsMs > SilentAfterMs)
        setState(InputState::ChannelSilent);
    else if (now - m_lastClipMs < ShownForMs)
        setState(InputState::Clipping);
    else if (now - m_lastGapMs < ShownForMs)
        setState(InputState::Gap);
    else if (now - m_lastStepMs < ShownForMs)
        setState(InputState::ClockStepped);
    else
        setState(InputState::Listening);
}

void AudioCapture::setRate(double rateKhzPerS)
{
    if (m_settings.hzPerMs == rateKhzPerS)
        return;
    m_settings.hzPerMs = rateKhzPerS;
    if (m_detector)
        makeDetector();
}

void AudioCapture::makeDetector()
{
    m_detector = std::make_unique<ChirpDetector>(m_settings);
}

void AudioCapture::scan(const QList<double> &ratesKhzPerS)
{
    m_scanRates = ratesKhzPerS;
    if (m_detector)
        makeScanners();
    else
        m_scanner.reset();
}

void AudioCapture::makeScanners()
{
    m_scanner
        = m_scanRates.isEmpty() ? nullptr : std::make_unique<ChirpScanner>(m_settings, m_scanRates);
}

void AudioCapture::scanWhatIsIn()
{
    if (!m_scanner || !m_audioClock || !m_audioClock->isValid())
        return;
    const double rate = m_format.sampleRate();
    const qint64 length = m_scanner->blockSamples();
    m_scannedTo = std::max(m_scannedTo, m_ring.oldest() / m_channels);
    std::vector<float> block(static_cast<size_t>(length * m_channels));
    while (m_ring.copy(m_scannedTo * m_channels, block)) {
        for (const ChirpScanner::Hit &hit : m_scanner->scan(block)) {
            const double sample = double(m_scannedTo) + hit.offsetMs * rate / 1000;
            Q_EMIT heard(m_audioClock->clockAt(sample), hit.rateKhzPerS, hit.snrDb);
        }
        m_scannedTo += m_scanner->stepSamples();
    }
}

void AudioCapture::measure(qint64 id, double arrivalMs, double dialFromMs, double dialToMs)
{
    if (!m_source) {
        Q_EMIT missed(id);
        return;
    }
    m_pending.append({id, arrivalMs, dialFromMs, dialToMs});
    measureWhatIsIn();
}

void AudioCapture::measureWhatIsIn()
{
    if (!m_audioClock || !m_audioClock->isValid() || !m_detector)
        return;
    const double rate = m_format.sampleRate();
    std::vector<float> block;
    for (qsizetype i = 0; i < m_pending.size();) {
        const Pending p = m_pending[i];
        useDialWindow(p.dialFromMs - p.arrivalMs, p.dialToMs - p.arrivalMs);
        const qint64 length = m_detector->blockSamples();
        const double arrival = m_audioClock->sampleAt(p.arrivalMs);
        const qint64 first = qint64(std::floor(arrival - m_detector->blockLeadMs() * rate / 1000));
        if ((first + length) * m_channels > m_ring.total()) {
            ++i;
            continue;
        }
        m_pending.removeAt(i);
        block.resize(size_t(length * m_channels));
        if (!m_ring.copy(first * m_channels, block)) {
            Q_EMIT missed(p.id);
            continue;
        }
        const SampleSpan dial = dialSpanInBlock(*m_audioClock, first, p.dialFromMs, p.dialToMs);
        Q_EMIT measured(p.id,
                        m_detector->detect(block, arrival - double(first), dial.from, dial.to));
    }
}

void AudioCapture::useDialWindow(double fromMs, double toMs)
{
    // Whole tenths of a second around it, so that the ticks' jitter keeps the detector.
    const double from = std::floor(fromMs / DialWindowMs) * DialWindowMs;
    const double to = std::ceil(toMs / DialWindowMs) * DialWindowMs;
    if (!std::isfinite(from) || !std::isfinite(to)
        || (m_settings.dialFromMs == from && m_settings.dialToMs == to))
        return;
    m_settings.dialFromMs = from;
    m_settings.dialToMs = to;
    makeDetector();
}

void AudioCapture::setState(InputState state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state, m_inputName);
}

} // namespace Listen
