// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QtGlobal>

#include <algorithm>
#include <span>
#include <vector>

namespace Listen {

// The last `capacity` samples of a stream, addressed by their index in the whole stream
// (the first sample ever appended is 0).
class RingBuffer
{
public:
    explicit RingBuffer(qint64 capacity = 0);

    void append(std::span<const float> samples);
    // Forgets every sample; the next one appended is sample 0 again.
    void clear();

    qint64 capacity() const { return qint64(m_samples.size()); }
    // Samples appended since made or cleared: the index of the next one.
    qint64 total() const { return m_total; }
    // The index of the oldest sample still held.
    qint64 oldest() const { return std::max<qint64>(0, m_total - capacity()); }

    // Copies samples [first, first + out.size()) into out; false, copying nothing, when any
    // of them was overwritten or is not in yet.
    bool copy(qint64 first, std::span<float> out) const;

private:
    std::vector<float> m_samples;
    qint64 m_total = 0;
};

} // namespace Listen
