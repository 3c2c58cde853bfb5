// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDir>
#include <QFile>

// What this process holds: open file descriptors and resident memory.
inline int openFileDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// Resident set size in KiB (VmRSS of /proc/self/status).
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// AddressSanitizer holds freed memory in quarantine, so resident memory says nothing of
// leaks or growth in a sanitized build.
inline constexpr bool residentMemoryIsMeaningful =
#if defined(__SANITIZE_ADDRESS__)
    false;
#else
    true;
#endif

// The long forms of the checks, and the memory and timing figures, run in the soak only
// (ZARVOTEL_SOAK=1, set by the CTest entries labelled soak that make soak runs).
inline bool soakRun()
{
    return qEnvironmentVariableIntValue("ZARVOTEL_SOAK") > 0;
}
