// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "stepreading.h"
#include "sweepscaling.h"

#include <QFile>
#include <QImage>
#include <QLockFile>
#include <QObject>

namespace Listen {

// Keeps an ionogram folder to one Zarvotel: a lock file in the folder, which names the
// process holding it. A lock left by a process that died is taken over.
class FolderLock
{
public:
    enum class Result { Held, InUse, Unwritable };

    explicit FolderLock(const QString &folder);

    // Makes the folder when it is missing and takes it; Held also when already held.
    Result take();
    // Why the last take() failed, in one line beginning in lower case, with no full stop.
    QString refusal() const { return m_refusal; }
    bool isHeld() const { return m_lock.isLocked(); }
    void release() { m_lock.unlock(); }

    static QString lockPath(const QString &folder);

private:
    QString m_folder;
    QLockFile m_lock;
    QString m_refusal;
};

// Writes each sweep's CSV, a row as soon as its step is measured, and its picture. Lives
// on a thread of its own, so that a slow disk never holds up the audio or the window. A
// row is written whole and flushed, or taken back: the file never ends in half a row.
// Nothing is written until the recorder holds its folder (FolderLock).
class SweepRecorder : public QObject
{
    Q_OBJECT

public:
    explicit SweepRecorder(const QString &folder, QObject *parent = nullptr);

    // Takes the folder, or reports why it cannot (another Zarvotel writes there).
    bool takeFolder();
    void writeRow(const Listen::StepReading &reading);
    void savePicture(qint64 sweepStartMs, const QImage &picture);
    // Reads the sweep's saved picture, if there is one, and hands it on by pictureLoaded.
    void loadPicture(qint64 sweepStartMs);
    // The sweep that began at sweepStartMs is over: scales it from its own CSV read back,
    // adds its row to its UTC day's summary and draws that day's plot again. The sounder's
    // period and chirptime in s and rate in kHz/s go in the row.
    void finishSweep(qint64 sweepStartMs,
                     std::optional<double> periodS,
                     std::optional<double> chirptimeS,
                     std::optional<double> rateKhzPerS);
    // Closes the sweep's file and lets the folder go.
    void finish();

Q_SIGNALS:
    // Something could not be written (the whole text), or writing works again.
    void problem(const QString &text);
    void written(const QString &path);
    void pictureLoaded(qint64 sweepStartMs, const QImage &picture);
    void sweepScaled(const Listen::SweepSummary &summary);
    void dayPlotChanged(const QImage &plot);

private:
    bool openSweep(qint64 sweepStartMs);
    void report(const QString &text);
    bool appendSummary(const SweepSummary &summary);
    // Appends text whole and flushed, or takes back what reached the file and says so.
    bool appendWhole(QFile &file, const QByteArray &text);
    // Saves image as a PNG at path, whole or not at all, and says which.
    bool savePng(const QString &path, const QImage &image);
    // Writing works again after a problem: the problem is cleared.
    void recovered();

    QString m_folder;
    FolderLock m_lock;
    QFile m_file;
    qint64 m_sweepStartMs = -1;
    bool m_failing = false;
};

} // namespace Listen
