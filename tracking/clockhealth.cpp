// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "clockhealth.h"

#include <QByteArrayList>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>

#if defined(Q_OS_LINUX)
#include <sys/timex.h>
#endif

namespace Tracking {
namespace {

// systemd counts the kernel clock as synchronised below this maximum error.
constexpr qint64 KernelSynchronisedBelowUs = 16'000'000;

// chrony's "chronyc -c tracking": ..., [4] system time offset (s), ..., [10] root delay (s),
// [11] root dispersion (s), [12] update interval, [13] leap status.
std::optional<ClockHealth> fromChrony(const QByteArray &line)
{
    const QByteArrayList fields = line.trimmed().split(',');
    if (fields.size() < 14)
        return std::nullopt;
    bool offsetOk = false, delayOk = false, dispersionOk = false;
    const double offset = fields[4].toDouble(&offsetOk);
    const double delay = fields[10].toDouble(&delayOk);
    const double dispersion = fields[11].toDouble(&dispersionOk);
    if (!offsetOk || !delayOk || !dispersionOk)
        return std::nullopt;
    if (fields[13].trimmed() == "Not synchronised")
        return ClockHealth{ClockState::NotSynchronised, std::nullopt};
    // chrony's own bound on the clock's error: the offset, half the delay to the reference
    // and the dispersion gathered on the way.
    const double boundS = std::abs(offset) + std::abs(delay) / 2 + std::abs(dispersion);
    if (!std::isfinite(boundS) || boundS > 1e6)
        return std::nullopt;
    return ClockHealth{ClockState::Synchronised, qint64(std::ceil(boundS * 1e6))};
}

} // namespace

ClockHealth judgeClock(const std::optional<KernelClock> &kernel,
                       const std::optional<QByteArray> &chronyTracking)
{
    if (chronyTracking) {
        if (const auto chrony = fromChrony(*chronyTracking))
            return *chrony;
    }
    if (!kernel)
        return {};
    if (kernel->unsynchronised || kernel->maxErrorUs >= KernelSynchronisedBelowUs)
        return {ClockState::NotSynchronised, std::nullopt};
    // systemd-timesyncd writes 0 into the error estimates: no bound is known then.
    if (kernel->maxErrorUs <= 0)
        return {ClockState::Synchronised, std::nullopt};
    return {ClockState::Synchronised, kernel->maxErrorUs};
}

QString clockHealthText(const ClockHealth &health)
{
    switch (health.state) {
    case ClockState::Synchronised:
        if (!health.boundUs)
            return QStringLiteral("Clock synchronised");
        return QStringLiteral("Clock synchronised, within %1 ms")
            .arg((*health.boundUs + 999) / 1000);
    case ClockState::NotSynchronised:
        return QStringLiteral("Clock not synchronised: the radio may miss the chirp");
    case ClockState::Unknown:
        break;
    }
    return QStringLiteral("Clock state unknown");
}

bool clockIsBad(const ClockHealth &health)
{
    return health.state == ClockState::NotSynchronised
           || (health.boundUs && *health.boundUs > ClockToleranceUs);
}

bool clockIsGood(const ClockHealth &health)
{
    return health.state == ClockState::Synchronised && !clockIsBad(health);
}

namespace {

class SystemClockSources final : public ClockSources
{
public:
    std::optional<KernelClock> kernel() const override
    {
#if defined(Q_OS_LINUX)
        timex tx{}; // modes 0: read only, no privileges needed
        const int state = ::ntp_adjtime(&tx);
        if (state < 0)
            return std::nullopt;
        return KernelClock{(tx.status & STA_UNSYNC) != 0 || state == TIME_ERROR,
                           qint64(tx.maxerror),
                           qint64(tx.esterror)};
#else
        return std::nullopt;
#endif
    }
    QString chronyc() const override
    {
        return QStandardPaths::findExecutable(QStringLiteral("chronyc"));
    }
};

const QStringList ChronycArguments{QStringLiteral("-c"), QStringLiteral("tracking")};
constexpr int ChronycTimeoutMs = 2000;

} // namespace

std::unique_ptr<ClockSources> systemClockSources()
{
    return std::make_unique<SystemClockSources>();
}

ClockWatcher::ClockWatcher(std::unique_ptr<ClockSources> sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(IntervalMs);
    connect(m_timer, &QTimer::timeout, this, &ClockWatcher::ask);
}

ClockWatcher::~ClockWatcher()
{
    if (m_chronyc) {
        m_chronyc->disconnect(this);
        m_chronyc->kill();
        m_chronyc->waitForFinished(100);
    }
}

void ClockWatcher::start()
{
    m_timer->start();
    ask();
}

void ClockWatcher::ask()
{
    m_kernel = m_sources->kernel();
    const QString chronyc = m_sources->chronyc();
    if (chronyc.isEmpty())
        return settle(std::nullopt);
    if (m_chronyc)
        return; // the last one is still running
    m_chronyc = new QProcess(this);
    connect(m_chronyc, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        QProcess *process = std::exchange(m_chronyc, nullptr);
        const QByteArray line = process->readAllStandardOutput().split('\n').value(0);
        process->deleteLater();
        settle(code == 0 && status == QProcess::NormalExit ? std::optional(line) : std::nullopt);
    });
    connect(m_chronyc, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        std::exchange(m_chronyc, nullptr)->deleteLater();
        settle(std::nullopt);
    });
    QTimer::singleShot(ChronycTimeoutMs, m_chronyc, [process = m_chronyc] { process->kill(); });
    m_chronyc->start(chronyc, ChronycArguments);
}

void ClockWatcher::settle(const std::optional<QByteArray> &chronyTracking)
{
    const ClockHealth health = judgeClock(m_kernel, chronyTracking);
    const bool changed = !(health == m_health);
    m_health = health;
    if (changed)
        Q_EMIT healthChanged(health);
}

ClockHealth ClockWatcher::askNow(const ClockSources &sources)
{
    std::optional<QByteArray> chronyTracking;
    if (const QString chronyc = sources.chronyc(); !chronyc.isEmpty()) {
        QProcess process;
        process.start(chronyc, ChronycArguments);
        if (process.waitForFinished(ChronycTimeoutMs) && process.exitCode() == 0)
            chronyTracking = process.readAllStandardOutput().split('\n').value(0);
        else
            process.kill();
    }
    return judgeClock(sources.kernel(), chronyTracking);
}

} // namespace Tracking
