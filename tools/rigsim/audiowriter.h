// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "skyaudio.h"

#include <QString>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Sky {

// Writes the sky's audio as raw signed 16-bit little-endian samples at the audio's rate, mono
// or (I/Q) interleaved stereo, to a file or FIFO, in real time, on a thread of its own
// (opening a FIFO waits for its reader). Sample (frame) n belongs to the wall time of sample
// 0 plus n / rate seconds: a reader that falls behind loses samples rather than moving them.
class AudioWriter
{
public:
    // report: says what happened, from the writer's thread.
    AudioWriter(const QString &path,
                const SkyAudio &audio,
                std::function<void(const QString &)> report);
    ~AudioWriter();
    AudioWriter(const AudioWriter &) = delete;
    AudioWriter &operator=(const AudioWriter &) = delete;

    // A frequency command, now by the system clock: the receiver's dial moves as its
    // latency says. From any thread.
    void setDial(qint64 hz);
    // The receiver's sideband from the next block on; from any thread.
    void setSideband(Sideband sideband) { m_shared->lower.store(sideband == Sideband::Lower); }

private:
    struct Command
    {
        qint64 atNs = 0;
        qint64 dialHz = 0;
    };
    struct Shared
    {
        std::mutex mutex;
        std::vector<Command> commands; // not yet handed to the audio, under mutex
        std::atomic<bool> lower{false};
        std::atomic<bool> stop{false};
        std::promise<void> finished;
    };

    static void run(std::shared_ptr<Shared> shared,
                    QString path,
                    SkyAudio audio,
                    std::function<void(const QString &)> report);

    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::future<void> m_finished = m_shared->finished.get_future();
    std::thread m_thread;
};

} // namespace Sky
