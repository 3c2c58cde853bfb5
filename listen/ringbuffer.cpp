// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ringbuffer.h"

#include <algorithm>

namespace Listen {

RingBuffer::RingBuffer(qint64 capacity)
    : m_samples(size_t(std::max<qint64>(capacity, 0)), 0.0f)
{}

void RingBuffer::append(std::span<const float> samples)
{
    const qint64 size = capacity();
    if (size == 0) {
        m_total += qint64(samples.size());
        return;
    }
    // Only the last `size` samples can be kept.
    const qint64 skipped = std::max<qint64>(0, qint64(samples.size()) - size);
    m_total += skipped;
    samples = samples.subspan(size_t(skipped));
    while (!samples.empty()) {
        const qint64 at = m_total % size;
        const size_t run = std::min(samples.size(), size_t(size - at));
        std::copy_n(samples.begin(), run, m_samples.begin() + at);
        samples = samples.subspan(run);
        m_total += qint64(run);
    }
}

void RingBuffer::clear()
{
    m_total = 0;
}

bool RingBuffer::copy(qint64 first, std::span<float> out) const
{
    const qint64 length = qint64(out.size());
    if (first < oldest() || length > capacity() || first > m_total - length)
        return false;
    const qint64 size = capacity();
    qint64 done = 0;
    while (done < length) {
        const qint64 at = (first + done) % size;
        const qint64 run = std::min(length - done, size - at);
        std::copy_n(m_samples.begin() + at, run, out.begin() + done);
        done += run;
    }
    return true;
}

} // namespace Listen
