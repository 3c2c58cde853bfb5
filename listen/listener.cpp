// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "listener.h"

#include "daytime.h"
#include "sweeprecorder.h"

#include <QDir>
#include <QStandardPaths>

#include <cmath>

namespace Listen {

namespace {

// Before calibration the chirp is searched from 50 ms before the expected arrival to 300 ms
// after: a sound server and a USB codec add tens to hundreds of ms. After, a margin around
// the drawn delays.
constexpr double WideFromMs = -50;
constexpr double WideToMs = 300;
constexpr double MarginMs = 0;
// The lower sideband is said when this many of the last steps kept heard a falling chirp.
constexpr qsizetype SidebandStepsKept = 10;
constexpr qsizetype SidebandStepsToSay = 3;
// The ionogram's rows.
constexpr double LeastIqBandHz = 0.9 * 48000;
constexpr double FinestStepMs = 0.005;
constexpr double CoarsestStepMs = 0.1;
constexpr int LeastRows = 50;
constexpr int MostRows = 500;

QString megahertz(qint32 hz)
{
    return QString::number(hz / 1e6, 'f', 1);
}

} // namespace

QString defaultIonogramFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/ionograms");
}

double delayStepMs(const ListenOptions &options)
{
    // Without a passband given, I/Q is taken at 48 kHz, the least an I/Q input gives.
    const double bandHz = options.passbandHz
                              ? options.passbandHz->second - options.passbandHz->first
                          : options.iq ? LeastIqBandHz
                                       : DetectorSettings::NarrowBandHz;
    return std::clamp(500 / std::max(bandHz, 1.0), FinestStepMs, CoarsestStepMs);
}

int delayRows(const ListenOptions &options)
{
    return std::clamp(
        int(std::lround((options.delayToMs - options.delayFromMs) / delayStepMs(options))),
        LeastRows,
        MostRows);
}

int delayDecimals(const ListenOptions &options)
{
    return delayStepMs(options) < 0.05 ? 3 : 2;
}

DetectorSettings detectorSettingsFor(const ListenOptions &options)
{
    DetectorSettings settings;
    settings.hzPerMs = options.rateKhzPerS;
    settings.iq = options.iq;
    settings.iqSwapped = options.iqSwapped;
    if (options.passbandHz) {
        settings.lowHz = options.passbandHz->first;
        settings.highHz = options.passbandHz->second;
    } else if (options.iq) {
        settings.lowHz = qQNaN();
        settings.highHz = qQNaN();
    }
    const double delay = options.audioDelayMs.value_or(0);
    settings.profileFromMs = options.delayFromMs + delay;
    settings.profileToMs = options.delayToMs + delay;
    settings.profileBins = delayRows(options);
    if (options.audioDelayMs) {
        settings.searchFromMs = settings.profileFromMs - MarginMs;
        settings.searchToMs = settings.profileToMs + MarginMs;
    } else {
        settings.searchFromMs = std::min(WideFromMs, settings.profileFromMs);
        settings.searchToMs = std::max(WideToMs, settings.profileToMs);
    }
    // The block, over which the spectrum, level and noise are measured, begins 350 ms before
    // the arrival, or 300 ms before an earlier search.
    settings.blockFromMs = std::min(settings.searchFromMs, -50.0) - 300;
    return settings;
}

Listener::Listener(const ListenOptions &options, Clock clock, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_clock(clock)
{
    qRegisterMetaType<Listen::Detection>();
    qRegisterMetaType<Listen::StepReading>();
    qRegisterMetaType<Listen::InputState>();
    qRegisterMetaType<Listen::SweepSummary>();
    if (m_options.folder.isEmpty())
        m_options.folder = defaultIonogramFolder();

    m_rateKhzPerS = m_options.rateKhzPerS;
    m_capture = AudioCapture::shared();
    connect(m_capture, &AudioCapture::measured, this, &Listener::onMeasured);
    connect(m_capture, &AudioCapture::missed, this, [this](qint64 id) { m_pending.remove(id); });
    connect(m_capture, &AudioCapture::clockStepped, this, [this](double stepMs) {
        m_clockStepMs = stepMs;
    });
    connect(m_capture, &AudioCapture::stateChanged, this, &Listener::onInputState);
    if (m_options.findHz) {
        const QList<double> periods
            = m_options.findPeriodsS.isEmpty() ? candidatePeriods() : m_options.findPeriodsS;
        m_finding = new SounderSearch(
            *m_options.findHz, periods, m_options.audioDelayMs.value_or(0), m_options.utc, this);
        connect(m_capture, &AudioCapture::heard, m_finding, &SounderSearch::onHeard);
        connect(m_finding, &SounderSearch::chirpsHeardChanged, this, &Listener::updateStatus);
        connect(m_finding, &SounderSearch::soundersChanged, this, &Listener::updateStatus);
        connect(m_finding, &SounderSearch::ended, this, [this] {
            QMetaObject::invokeMethod(
                m_capture, [capture = m_capture] { capture->scan({}); }, Qt::QueuedConnection);
            updateStatus();
        });
    }
    startCapture();

    m_recorder = new SweepRecorder(m_options.folder);
    m_recorder->moveToThread(&m_fileThread);
    connect(&m_fileThread, &QThread::finished, m_recorder, &QObject::deleteLater);
    connect(m_recorder, &SweepRecorder::problem, this, &Listener::fileProblem);
    connect(m_recorder, &SweepRecorder::pictureLoaded, this, &Listener::pictureLoaded);
    connect(m_recorder, &SweepRecorder::sweepScaled, this, [this](const SweepSummary &summary) {
        m_sweepText = sweepSummaryText(summary);
        updateStatus();
        Q_EMIT sweepScaled(summary);
    });
    connect(m_recorder, &SweepRecorder::dayPlotChanged, this, &Listener::dayPlotChanged);
    // The folder is taken at once, so that a refusal is seen before any step is heard.
    connect(&m_fileThread, &QThread::started, m_recorder, &SweepRecorder::takeFolder);

    m_fileThread.setObjectName(QStringLiteral("ionogram files"));
    m_fileThread.start();
    updateStatus();
}

Listener::~Listener()
{
    // The capture stays for the next session; what was handed to the files' thread is done
    // before it ends: no row or picture is lost.
    QMetaObject::invokeMethod(m_capture, &AudioCapture::stop, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_recorder, &SweepRecorder::finish, Qt::BlockingQueuedConnection);
    m_fileThread.quit();
    m_fileThread.wait();
}

void Listener::onStepTaken(qint64 tickMs,
                           const Tracking::StepResult &step,
                           const Tracking::Sounder &sounder,
                           bool reachesRadio)
{
    // The tuning started: the dial is no longer parked, and finding ends.
    if (m_finding)
        m_finding->end();
    setTuning(reachesRadio ? Tuning::Tuned : Tuning::NoLink);
    // Another sounder (the user took over a found one): the capture listens for its rate,
    // and nothing planned for the old one is measured.
    if (sounder.rateKhzPerS != m_rateKhzPerS) {
        m_rateKhzPerS = sounder.rateKhzPerS;
        m_pending.clear();
        QMetaObject::invokeMethod(
            m_capture,
            [capture = m_capture, rate = m_rateKhzPerS] { capture->setRate(rate); },
            Qt::QueuedConnection);
    }
    // A step whose dial moved before its chirp was heard is not measured.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->dialHz != step.stepHz
            && double(tickMs) < it->arrivalMs + sounder.reachMs(PassbandTopHz))
            it = m_pending.erase(it);
        else
            ++it;
    }
    // Steps that never reach the radio are not measured: the radio is elsewhere.
    if (!reachesRadio)
        return;
    const auto planned = planStep(tickMs, step, sounder);
    if (!planned)
        return;
    if (m_sweepStartMs != planned->sweepStartMs) {
        // A sweep whose last step never came is over when the next begins.
        if (m_sweepStartMs)
            finishSweep(*m_sweepStartMs);
        m_sweepStartMs = planned->sweepStartMs;
        m_plannedDials.clear();
        Q_EMIT sweepBegun(planned->sweepStartMs);
    }
    m_sweepSounder = sounder;
    if (m_plannedDials.contains(planned->dialHz))
        return;
    m_plannedDials.append(planned->dialHz);
    const qint64 id = ++m_nextId;
    m_pending.insert(id, *planned);
    // The sound path delays the dial's changes as much as the chirp.
    const double delayMs = m_options.audioDelayMs.value_or(0);
    QMetaObject::invokeMethod(
        m_capture,
        [capture = m_capture, id, step = *planned, delayMs] {
            capture->measure(
                id, step.arrivalMs, step.dialFromMs + delayMs, step.dialToMs + delayMs);
        },
        Qt::QueuedConnection);
}

void Listener::setTuning(Tuning tuning)
{
    if (m_tuning == tuning)
        return;
    m_tuning = tuning;
    m_lastReading.reset();
    updateStatus();
}

void Listener::setRadioNote(const QString &text)
{
    m_radioNote = text;
    updateStatus();
}

void Listener::onStopped()
{
    m_pending.clear();
    setTuning(Tuning::Stopped);
}

void Listener::savePicture(qint64 sweepStartMs, const QImage &picture)
{
    QMetaObject::invokeMethod(
        m_recorder,
        [recorder = m_recorder, sweepStartMs, picture] {
            recorder->savePicture(sweepStartMs, picture);
        },
        Qt::QueuedConnection);
}

void Listener::loadPicture(qint64 sweepStartMs)
{
    QMetaObject::invokeMethod(
        m_recorder,
        [recorder = m_recorder, sweepStartMs] { recorder->loadPicture(sweepStartMs); },
        Qt::QueuedConnection);
}

void Listener::setAudioDelay(double ms)
{
    if (!(ms >= 0 && ms <= 1000)) // as --audio-delay takes
        return;
    m_options.audioDelayMs = ms;
    m_pending.clear();
    // The capture takes new settings only as it starts: it starts again, and finds the
    // input again at once.
    startCapture();
}

void Listener::startCapture()
{
    DetectorSettings settings = detectorSettingsFor(m_options);
    settings.hzPerMs = m_rateKhzPerS;
    QMetaObject::invokeMethod(
        m_capture,
        [capture = m_capture, text = m_options.inputText, settings, clock = m_clock] {
            capture->start(text, settings, clock);
        },
        Qt::QueuedConnection);
    if (m_finding && !m_finding->hasEnded()) {
        QMetaObject::invokeMethod(
            m_capture,
            [capture = m_capture,
             rates = m_options.findRatesKhzPerS.isEmpty()
                         ? candidateRates()
                         : m_options.findRatesKhzPerS] { capture->scan(rates); },
            Qt::QueuedConnection);
    }
}

void Listener::onMeasured(qint64 id, const Detection &detection)
{
    const auto planned = m_pending.find(id);
    if (planned == m_pending.end())
        return;
    StepReading reading;
    reading.step = *planned;
    m_pending.erase(planned);
    const double delay = m_options.audioDelayMs.value_or(0);
    for (Echo echo : detection.echoes) {
        echo.delayMs -= delay;
        reading.echoes.append(echo);
    }
    reading.snrDb = reading.echoes.isEmpty() ? detection.peakDb : reading.echoes.front().snrDb;
    reading.profileDb = detection.profileDb;
    reading.delayDecimals = delayDecimals(m_options);
    // Falling chirps in several of the last steps are the radio in the lower sideband; one
    // alone may be noise.
    m_fallingSteps.append(detection.lowerSideband);
    if (m_fallingSteps.size() > SidebandStepsKept)
        m_fallingSteps.removeFirst();
    m_lowerSideband = m_fallingSteps.count(true) >= SidebandStepsToSay;
    m_lastReading = reading;
    Q_EMIT stepHeard(reading);
    QMetaObject::invokeMethod(
        m_recorder,
        [recorder = m_recorder, reading] { recorder->writeRow(reading); },
        Qt::QueuedConnection);
    // The last step a sweep tunes to is 29.9 MHz.
    if (reading.step.dialHz >= Tracking::SweepCeilingHz - Tracking::SweepStepHz)
        finishSweep(reading.step.sweepStartMs);
    updateStatus();
}

void Listener::finishSweep(qint64 sweepStartMs)
{
    if (m_finishedSweepMs == sweepStartMs)
        return;
    m_finishedSweepMs = sweepStartMs;
    QMetaObject::invokeMethod(
        m_recorder,
        [recorder = m_recorder, sweepStartMs, sounder = m_sweepSounder] {
            recorder->finishSweep(sweepStartMs,
                                  sounder.periodMs / 1000.0,
                                  sounder.chirptimeMs / 1000.0,
                                  sounder.rateKhzPerS);
        },
        Qt::QueuedConnection);
}

void Listener::onInputState(InputState state, const QString &inputName)
{
    m_inputState = state;
    m_inputName = inputName;
    if (state != InputState::Listening && state != InputState::ClockStepped)
        m_lastReading.reset();
    updateStatus();
}

void Listener::updateStatus()
{
    const QString &name = m_inputName;
    QString text;
    switch (m_inputState) {
    case InputState::NoServer:
        text = QStringLiteral("No sound server answers (PulseAudio or PipeWire). Listening "
                              "starts when one does.");
        break;
    case InputState::ClockStepped:
        text = QStringLiteral("The system clock stepped by %1 ms; the audio's timing follows it.")
                   .arg(QString::asprintf("%+.0f", m_clockStepMs));
        break;
    case InputState::NoInput:
        text = m_options.inputText.isEmpty()
                   ? QStringLiteral("No audio input. Listening starts when there is one.")
                   : QStringLiteral("No audio input named \"%1\". Listening starts when there "
                                    "is one.")
                         .arg(m_options.inputText);
        break;
    case InputState::Lost:
        text = QStringLiteral("Lost %1. Trying again every %2 s.")
                   .arg(name)
                   .arg(AudioCapture::RetryMs / 1000);
        break;
    case InputState::Silent:
        text = QStringLiteral("No sound from %1.").arg(name);
        break;
    case InputState::Clipping:
        text = QStringLiteral("%1 clips: turn the receiver's audio down.").arg(name);
        break;
    case InputState::Gap:
        text = QStringLiteral("%1 lost audio; its timing starts again.").arg(name);
        break;
    case InputState::Unsuitable:
        text = QStringLiteral("%1 Trying again every %2 s.")
                   .arg(name)
                   .arg(AudioCapture::RetryMs / 1000);
        break;
    case InputState::ChannelSilent:
        text = QStringLiteral("%1 gives sound on one channel only: I/Q needs both (I left, Q "
                              "right).")
                   .arg(name);
        break;
    case InputState::Listening:
        if (m_finding && !m_finding->hasEnded()) {
            text = QStringLiteral("Listening on %1 at %2 MHz: %3 chirps heard, %4 sounders found.")
                       .arg(name,
                            QString::number(m_finding->dialHz() / 1e6, 'f', 3),
                            QString::number(m_finding->chirpsHeard()),
                            QString::number(m_finding->sounders().size()));
        } else if (!m_radioNote.isEmpty()) {
            text = m_radioNote;
        } else if (m_lowerSideband && m_tuning == Tuning::Tuned && m_options.iq) {
            text = QStringLiteral("The chirp falls in the I/Q: its channels are swapped. Use "
                                  "--iq-swap, or swap them at the receiver.");
        } else if (m_lowerSideband && m_tuning == Tuning::Tuned) {
            text = QStringLiteral("The radio hears the lower sideband (LSB): the chirp falls "
                                  "there. Set it to USB.");
        } else if (m_tuning == Tuning::Stopped) {
            text = QStringLiteral("Listening on %1. Nothing is tuned: the tuning is stopped.")
                       .arg(name);
        } else if (m_tuning == Tuning::NoLink) {
            text = QStringLiteral("Listening on %1. Nothing is tuned: no rig-control program "
                                  "is connected.")
                       .arg(name);
        } else if (!m_lastReading) {
            text = QStringLiteral("Listening on %1.").arg(name);
        } else if (m_lastReading->echoes.isEmpty()) {
            text = QStringLiteral("Listening on %1: %2 MHz, nothing heard.")
                       .arg(name, megahertz(m_lastReading->step.dialHz));
        } else {
            const Echo &echo = m_lastReading->echoes.front();
            text = QStringLiteral("Listening on %1: %2 MHz, echo at %3 ms, %4 dB")
                       .arg(name,
                            megahertz(m_lastReading->step.dialHz),
                            QString::number(echo.delayMs, 'f', m_lastReading->delayDecimals),
                            QString::number(std::lround(echo.snrDb)));
        }
        break;
    }
    if (!m_sweepText.isEmpty())
        text += u'\n' + m_sweepText;
    if (text == m_status)
        return;
    m_status = text;
    Q_EMIT statusChanged(text);
}

} // namespace Listen
