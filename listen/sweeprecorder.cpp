// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sweeprecorder.h"

#include <QDir>
#include <QSaveFile>

namespace Listen {

SweepRecorder::SweepRecorder(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
{}

bool SweepRecorder::openSweep(qint64 sweepStartMs)
{
    if (m_sweepStartMs == sweepStartMs && m_file.isOpen())
        return true;
    m_file.close();
    m_sweepStartMs = sweepStartMs;
    if (!QDir().mkpath(m_folder)) {
        report(
            QStringLiteral("Cannot make the folder %1.").arg(QDir::toNativeSeparators(m_folder)));
        return false;
    }
    m_file.setFileName(
        QDir(m_folder).filePath(sweepFileStem(sweepStartMs) + QStringLiteral(".csv")));
    // A sweep begun before a restart goes on in its own file.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        report(QStringLiteral("Cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString()));
        return false;
    }
    if (m_file.size() == 0 && m_file.write(csvHeader()) != csvHeader().size()) {
        report(QStringLiteral("Cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString()));
        m_file.resize(0);
        m_file.close();
        return false;
    }
    return m_file.flush();
}

void SweepRecorder::writeRow(const StepReading &reading)
{
    if (!openSweep(reading.step.sweepStartMs))
        return;
    const qint64 before = m_file.size();
    const QByteArray row = csvRow(reading);
    if (m_file.write(row) != row.size() || !m_file.flush()) {
        const QString why = m_file.errorString();
        // Take back what part of the row reached the file.
        m_file.resize(before);
        m_file.close();
        report(QStringLiteral("Cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(m_file.fileName()), why));
        return;
    }
    if (m_failing) {
        m_failing = false;
        Q_EMIT problem(QString());
    }
}

void SweepRecorder::savePicture(qint64 sweepStartMs, const QImage &picture)
{
    if (!QDir().mkpath(m_folder))
        return report(
            QStringLiteral("Cannot make the folder %1.").arg(QDir::toNativeSeparators(m_folder)));
    const QString path
        = QDir(m_folder).filePath(sweepFileStem(sweepStartMs) + QStringLiteral(".png"));
    // Written beside and renamed when whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        report(QStringLiteral("Cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    Q_EMIT written(path);
}

void SweepRecorder::finish()
{
    m_file.close();
}

void SweepRecorder::report(const QString &text)
{
    m_failing = true;
    Q_EMIT problem(text);
}

} // namespace Listen
