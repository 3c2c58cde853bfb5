// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "listener.h"

#include "sweeprecorder.h"

#include <QDir>
#include <QStandardPaths>

#include <chrono>
#include <cmath>

namespace Listen {

namespace {

// Before calibration the chirp is searched from 50 ms before the expected arrival to 300 ms
// after: a sound server and a USB codec add tens to hundreds of ms. After, a margin around
// the drawn delays.
constexpr double WideFromMs = -50;
constexpr double WideToMs = 300;
constexpr double MarginMs = 0;

double systemClockMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

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

DetectorSettings detectorSettingsFor(const ListenOptions &options)
{
    DetectorSettings settings;
    settings.hzPerMs = options.rateKhzPerS;
    const double delay = options.audioDelayMs.value_or(0);
    settings.profileFromMs = options.delayFromMs + delay;
    settings.profileToMs = options.delayToMs + delay;
    settings.profileBins = int(std::lround((options.delayToMs - options.delayFromMs) * 10));
    if (options.audioDelayMs) {
        settings.searchFromMs = settings.profileFromMs - MarginMs;
        settings.searchToMs = settings.profileToMs + MarginMs;
    } else {
        settings.searchFromMs = std::min(WideFromMs, settings.profileFromMs);
        settings.searchToMs = std::max(WideToMs, settings.profileToMs);
    }
    settings.noiseToMs = std::min(settings.noiseToMs, settings.searchFromMs - 10);
    settings.noiseFromMs = settings.noiseToMs - 290;
    return settings;
}

Listener::Listener(const ListenOptions &options, Clock clock, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    qRegisterMetaType<Listen::Detection>();
    qRegisterMetaType<Listen::StepReading>();
    qRegisterMetaType<Listen::InputState>();
    if (!clock)
        clock = systemClockMs;
    if (m_options.folder.isEmpty())
        m_options.folder = defaultIonogramFolder();

    m_capture = new AudioCapture(m_options.inputText, detectorSettingsFor(m_options), clock);
    m_capture->moveToThread(&m_audioThread);
    connect(&m_audioThread, &QThread::finished, m_capture, &QObject::deleteLater);
    connect(m_capture, &AudioCapture::measured, this, &Listener::onMeasured);
    connect(m_capture, &AudioCapture::missed, this, [this](qint64 id) { m_pending.remove(id); });
    connect(m_capture, &AudioCapture::stateChanged, this, &Listener::onInputState);
    if (m_options.findHz) {
        const QList<double> periods
            = m_options.findPeriodsS.isEmpty() ? candidatePeriods() : m_options.findPeriodsS;
        const QList<double> rates
            = m_options.findRatesKhzPerS.isEmpty() ? candidateRates() : m_options.findRatesKhzPerS;
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
        QMetaObject::invokeMethod(
            m_capture,
            [capture = m_capture, rates] { capture->scan(rates); },
            Qt::QueuedConnection);
    }

    m_recorder = new SweepRecorder(m_options.folder);
    m_recorder->moveToThread(&m_fileThread);
    connect(&m_fileThread, &QThread::finished, m_recorder, &QObject::deleteLater);
    connect(m_recorder, &SweepRecorder::problem, this, &Listener::fileProblem);

    m_audioThread.setObjectName(QStringLiteral("audio"));
    m_fileThread.setObjectName(QStringLiteral("ionogram files"));
    m_audioThread.start();
    m_fileThread.start();
    QMetaObject::invokeMethod(m_capture, &AudioCapture::start, Qt::QueuedConnection);
    updateStatus();
}

Listener::~Listener()
{
    // What was handed to the threads is done before they end: no row or picture is lost.
    QMetaObject::invokeMethod(m_capture, &AudioCapture::stop, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(m_recorder, &SweepRecorder::finish, Qt::BlockingQueuedConnection);
    m_audioThread.quit();
    m_fileThread.quit();
    m_audioThread.wait();
    m_fileThread.wait();
}

void Listener::onStepTaken(qint64 tickMs, const Tracking::StepResult &step)
{
    // The tuning started: the dial is no longer parked, and finding ends.
    if (m_finding)
        m_finding->end();
    // A step whose dial moved before its chirp was heard is not measured.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->dialHz != step.stepHz
            && double(tickMs) < it->arrivalMs + passageMs(m_options.rateKhzPerS))
            it = m_pending.erase(it);
        else
            ++it;
    }
    const auto planned = planStep(tickMs, step, m_options.rateKhzPerS);
    if (!planned)
        return;
    if (m_sweepStartMs != planned->sweepStartMs) {
        m_sweepStartMs = planned->sweepStartMs;
        m_plannedDials.clear();
        Q_EMIT sweepBegun(planned->sweepStartMs);
    }
    if (m_plannedDials.contains(planned->dialHz))
        return;
    m_plannedDials.append(planned->dialHz);
    const qint64 id = ++m_nextId;
    m_pending.insert(id, *planned);
    QMetaObject::invokeMethod(
        m_capture,
        [capture = m_capture, id, at = planned->arrivalMs] { capture->measure(id, at); },
        Qt::QueuedConnection);
}

void Listener::setRate(double rateKhzPerS)
{
    m_options.rateKhzPerS = rateKhzPerS;
    m_pending.clear();
    QMetaObject::invokeMethod(
        m_capture,
        [capture = m_capture, rateKhzPerS] { capture->setRate(rateKhzPerS); },
        Qt::QueuedConnection);
}

void Listener::onStopped()
{
    m_pending.clear();
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
    m_lastReading = reading;
    Q_EMIT stepHeard(reading);
    QMetaObject::invokeMethod(
        m_recorder,
        [recorder = m_recorder, reading] { recorder->writeRow(reading); },
        Qt::QueuedConnection);
    updateStatus();
}

void Listener::onInputState(InputState state, const QString &inputName)
{
    m_inputState = state;
    m_inputName = inputName;
    if (state != InputState::Listening)
        m_lastReading.reset();
    updateStatus();
}

void Listener::updateStatus()
{
    const QString &name = m_inputName;
    QString text;
    switch (m_inputState) {
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
    case InputState::Listening:
        if (m_finding && !m_finding->hasEnded()) {
            text = QStringLiteral("Listening on %1 at %2 MHz: %3 chirps heard, %4 sounders found.")
                       .arg(name,
                            QString::number(m_finding->dialHz() / 1e6, 'f', 3),
                            QString::number(m_finding->chirpsHeard()),
                            QString::number(m_finding->sounders().size()));
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
                            QString::number(echo.delayMs, 'f', 2),
                            QString::number(std::lround(echo.snrDb)));
        }
        break;
    }
    if (text == m_status)
        return;
    m_status = text;
    Q_EMIT statusChanged(text);
}

} // namespace Listen
