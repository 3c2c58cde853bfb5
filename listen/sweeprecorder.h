// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "stepreading.h"

#include <QFile>
#include <QImage>
#include <QObject>

namespace Listen {

// Writes each sweep's CSV, a row as soon as its step is measured, and its picture. Lives
// on a thread of its own, so that a slow disk never holds up the audio or the window. A
// row is written whole and flushed, or taken back: the file never ends in half a row.
class SweepRecorder : public QObject
{
    Q_OBJECT

public:
    explicit SweepRecorder(const QString &folder, QObject *parent = nullptr);

    void writeRow(const Listen::StepReading &reading);
    void savePicture(qint64 sweepStartMs, const QImage &picture);
    void finish();

Q_SIGNALS:
    // Something could not be written (the whole text), or writing works again.
    void problem(const QString &text);
    void written(const QString &path);

private:
    bool openSweep(qint64 sweepStartMs);
    void report(const QString &text);

    QString m_folder;
    QFile m_file;
    qint64 m_sweepStartMs = -1;
    bool m_failing = false;
};

} // namespace Listen
