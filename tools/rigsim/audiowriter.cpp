// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audiowriter.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace Sky {
namespace {

using std::chrono::steady_clock;

constexpr qint64 BlocksPerS = 100;           // 10 ms each
constexpr qint64 MaxLateNs = 200'000'000;    // later than this, samples are dropped
constexpr qint64 MaxClockMoveNs = 5'000'000; // the system clock moved: the schedule follows
constexpr size_t MaxCommands = 1000;         // waiting for the writer

qint64 systemNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

qint64 nsSince(steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(steady_clock::now() - start)
        .count();
}

QString utcText(qint64 ns)
{
    return QDateTime::fromMSecsSinceEpoch(ns / 1'000'000, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QStringLiteral("%1Z").arg(ns / 1000 % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

AudioWriter::AudioWriter(const QString &path,
                         const SkyAudio &audio,
                         std::function<void(const QString &)> report)
{
    m_shared->lower = audio.sideband() == Sideband::Lower;
    m_thread = std::thread(&AudioWriter::run, m_shared, path, audio, std::move(report));
}

void AudioWriter::setDial(qint64 hz)
{
    const std::lock_guard lock(m_shared->mutex);
    // Without a reader the commands wait; only the latest ones can still matter.
    if (m_shared->commands.size() >= MaxCommands)
        m_shared->commands.erase(m_shared->commands.begin(),
                                 m_shared->commands.begin() + MaxCommands / 2);
    m_shared->commands.push_back({systemNowNs(), hz});
}

AudioWriter::~AudioWriter()
{
    m_shared->stop = true;
    // A thread still waiting for a FIFO's reader, or blocked writing to one that reads no
    // more, is left to end with the process; it owns everything it touches.
    if (m_finished.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready)
        m_thread.join();
    else
        m_thread.detach();
}

void AudioWriter::run(std::shared_ptr<Shared> shared,
                      QString path,
                      SkyAudio audio,
                      std::function<void(const QString &)> report)
{
    QFile file(path);
    const int rateHz = audio.rateHz();
    const qint64 blockSamples = rateHz / BlocksPerS; // frames of one sample or of I and Q
    const auto sampleNs = [rateHz](qint64 n) {
        return Sky::sampleNs(n, rateHz);
    };
    std::vector<qint16> samples(size_t(blockSamples * audio.channels()));
    QByteArray bytes(qsizetype(samples.size()) * 2, '\0');
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    qint64 firstNs = 0;               // the wall time of sample 0, by the system clock
    steady_clock::time_point firstAt; // the same moment by the steady clock
    qint64 n = 0;                     // the next sample to write
    std::vector<Command> commands;
    commands.reserve(MaxCommands);
    while (!shared->stop) {
        if (!file.isOpen()) {
            if (!file.open(mode)) {
                report(QStringLiteral("audio: cannot open %1 (%2); no more audio")
                           .arg(path, file.errorString()));
                break;
            }
            if (QFileInfo(path).isFile())
                mode |= QIODevice::Append; // a file opened again is not cut (a FIFO has no end)
            firstAt = steady_clock::now();
            firstNs = systemNowNs();
            n = 0;
            report(
                QStringLiteral("audio: writing to %1; sample 0 is %2").arg(path, utcText(firstNs)));
        }
        // Each block goes out once its last sample's time has come.
        std::this_thread::sleep_until(firstAt
                                      + std::chrono::nanoseconds(sampleNs(n + blockSamples)));
        const qint64 steadyNs = nsSince(firstAt);
        const qint64 movedNs = systemNowNs() - firstNs - steadyNs;
        if (std::llabs(movedNs) > MaxClockMoveNs) {
            firstNs += movedNs;
            report(QStringLiteral("audio: the system clock moved %1 ms against the steady "
                                  "clock; the audio follows it")
                       .arg(double(movedNs) / 1e6, 0, 'f', 1));
        }
        {
            const std::lock_guard lock(shared->mutex);
            commands.swap(shared->commands);
        }
        for (const Command &command : commands)
            audio.retune(command.atNs, command.dialHz);
        commands.clear();
        audio.setSideband(shared->lower ? Sideband::Lower : Sideband::Upper);
        audio.render(firstNs + sampleNs(n), samples);
        for (size_t i = 0; i < samples.size(); ++i)
            qToLittleEndian(samples[i], bytes.data() + 2 * i);
        if (file.write(bytes) != bytes.size()) {
            report(QStringLiteral("audio: cannot write to %1 (%2); opening it again")
                       .arg(path, file.errorString()));
            file.close();
            continue;
        }
        n += blockSamples;
        const qint64 lateNs = nsSince(firstAt) - sampleNs(n);
        if (lateNs > MaxLateNs) {
            const qint64 dropped = firstSampleAt(lateNs, rateHz) / blockSamples * blockSamples;
            n += dropped;
            report(QStringLiteral("audio: %1 ms behind the clock (a slow reader?); dropped "
                                  "%2 samples to stay on time")
                       .arg(lateNs / 1'000'000)
                       .arg(dropped));
        }
    }
    shared->finished.set_value();
}

} // namespace Sky
