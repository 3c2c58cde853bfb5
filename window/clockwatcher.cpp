// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "clockwatcher.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

namespace Window {
namespace {

const QStringList ChronycArguments{QStringLiteral("-c"), QStringLiteral("tracking")};

// What chronyc printed, when it ended by itself and said it succeeded.
std::optional<QByteArray> outputOf(QProcess &process)
{
    if (process.error() == QProcess::FailedToStart || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace

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
    if (!m_chronyc)
        return;
    // A chronyc still running is killed and left to end on its own; the application reaps it,
    // so that nothing here waits for it.
    QProcess *process = std::exchange(m_chronyc, nullptr);
    process->disconnect(this);
    process->setParent(QCoreApplication::instance());
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
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
    connect(m_chronyc, &QProcess::finished, this, [this] {
        QProcess *process = std::exchange(m_chronyc, nullptr);
        process->deleteLater();
        settle(outputOf(*process));
    });
    connect(m_chronyc, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return; // a crash or a kill ends in finished() too
        std::exchange(m_chronyc, nullptr)->deleteLater();
        settle(std::nullopt);
    });
    // A chronyc that hangs is killed; its finished() comes once it has ended.
    QTimer::singleShot(ChronycTimeoutMs, m_chronyc, &QProcess::kill);
    m_chronyc->start(chronyc, ChronycArguments);
}

void ClockWatcher::settle(const std::optional<QByteArray> &chronycOutput)
{
    const Tracking::ClockHealth health = Tracking::judgeClock(m_kernel, chronycOutput);
    const bool changed = !(health == m_health);
    m_health = health;
    if (changed)
        Q_EMIT healthChanged(health);
}

Tracking::ClockHealth ClockWatcher::askNow(const ClockSources &sources)
{
    std::optional<QByteArray> output;
    if (const QString chronyc = sources.chronyc(); !chronyc.isEmpty()) {
        QProcess process;
        process.start(chronyc, ChronycArguments);
        if (!process.waitForFinished(ChronycTimeoutMs)) {
            process.kill();
            process.waitForFinished(); // reaps the killed process
        }
        output = outputOf(process);
    }
    return Tracking::judgeClock(sources.kernel(), output);
}

} // namespace Window
