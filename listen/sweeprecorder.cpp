// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sweeprecorder.h"

#include "dayplot.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <QTimeZone>

namespace Listen {

FolderLock::FolderLock(const QString &folder)
    : m_folder(folder)
    , m_lock(lockPath(folder))
{
    // Only a dead holder makes a lock stale, however old it is.
    m_lock.setStaleLockTime(0);
}

QString FolderLock::lockPath(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral(".zarvotel.lock"));
}

FolderLock::Result FolderLock::take()
{
    if (m_lock.isLocked())
        return Result::Held;
    const QString folder = QDir::toNativeSeparators(m_folder);
    if (!QDir().mkpath(m_folder)) {
        m_refusal = QStringLiteral("cannot make the folder %1").arg(folder);
        return Result::Unwritable;
    }
    if (m_lock.tryLock(0)) {
        m_refusal.clear();
        return Result::Held;
    }
    if (m_lock.error() != QLockFile::LockFailedError) {
        m_refusal
            = QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(lockPath(m_folder)));
        return Result::Unwritable;
    }
    qint64 pid = 0;
    QString host, program;
    const QString holder = m_lock.getLockInfo(&pid, &host, &program)
                               ? QStringLiteral(" (process %1)").arg(pid)
                               : QString();
    m_refusal = QStringLiteral("the ionogram folder %1 is in use by another Zarvotel%2; give "
                               "another with --ionograms")
                    .arg(folder, holder);
    return Result::InUse;
}

SweepRecorder::SweepRecorder(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_lock(folder)
{}

bool SweepRecorder::takeFolder()
{
    if (m_lock.take() == FolderLock::Result::Held)
        return true;
    const QString why = m_lock.refusal();
    report(why.left(1).toUpper() + why.mid(1) + u'.');
    return false;
}

bool SweepRecorder::openSweep(qint64 sweepStartMs)
{
    if (!takeFolder())
        return false;
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
    if (!appendWhole(m_file, csvRow(reading))) {
        m_file.close();
        return;
    }
    recovered();
}

void SweepRecorder::savePicture(qint64 sweepStartMs, const QImage &picture)
{
    if (!takeFolder())
        return;
    if (!QDir().mkpath(m_folder))
        return report(
            QStringLiteral("Cannot make the folder %1.").arg(QDir::toNativeSeparators(m_folder)));
    savePng(QDir(m_folder).filePath(sweepFileStem(sweepStartMs) + QStringLiteral(".png")), picture);
}

void SweepRecorder::loadPicture(qint64 sweepStartMs)
{
    const QImage picture(
        QDir(m_folder).filePath(sweepFileStem(sweepStartMs) + QStringLiteral(".png")));
    if (!picture.isNull())
        Q_EMIT pictureLoaded(sweepStartMs, picture);
}

void SweepRecorder::finishSweep(qint64 sweepStartMs,
                                std::optional<double> periodS,
                                std::optional<double> chirptimeS,
                                std::optional<double> rateKhzPerS)
{
    if (!takeFolder())
        return;
    if (m_sweepStartMs == sweepStartMs)
        m_file.close();
    // The whole sweep as its file holds it, rows written before a restart included.
    QFile csv(QDir(m_folder).filePath(sweepFileStem(sweepStartMs) + QStringLiteral(".csv")));
    if (!csv.open(QIODevice::ReadOnly))
        return; // no step of it was measured
    const auto read = readSweepCsv(csv);
    if (const auto *why = std::get_if<QString>(&read))
        return report(QStringLiteral("Cannot scale %1: %2.")
                          .arg(QDir::toNativeSeparators(csv.fileName()), *why));
    const auto &steps = std::get<QList<SweepStep>>(read);
    const SweepSummary summary{sweepStartMs, periodS, chirptimeS, rateKhzPerS, scaleSweep(steps)};
    if (appendSummary(summary))
        Q_EMIT sweepScaled(summary);
}

bool SweepRecorder::appendSummary(const SweepSummary &summary)
{
    const QDate day = QDateTime::fromMSecsSinceEpoch(summary.sweepStartMs, Qt::UTC).date();
    QFile file(QDir(m_folder).filePath(summaryFileName(day)));
    QList<SweepSummary> rows;
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd()) {
            if (const auto row = summaryFromRow(file.readLine()))
                rows.append(*row);
        }
        file.close();
    }
    // A sweep is summed up once, whatever finishes it again.
    for (const SweepSummary &row : std::as_const(rows)) {
        if (row.sweepStartMs == summary.sweepStartMs)
            return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        report(QStringLiteral("Cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
        return false;
    }
    if (!appendWhole(file,
                     (file.size() == 0 ? summaryHeader() : QByteArray()) + summaryRow(summary)))
        return false;
    file.close();
    rows.append(summary);

    const QImage plot = drawDayPlot(day, rows);
    if (savePng(QDir(m_folder).filePath(dayPlotFileName(day)), plot))
        recovered();
    Q_EMIT dayPlotChanged(plot);
    return true;
}

bool SweepRecorder::appendWhole(QFile &file, const QByteArray &text)
{
    const qint64 before = file.size();
    if (file.write(text) == text.size() && file.flush())
        return true;
    const QString why = file.errorString();
    // Take back what part of the text reached the file.
    file.resize(before);
    report(
        QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file.fileName()), why));
    return false;
}

bool SweepRecorder::savePng(const QString &path, const QImage &image)
{
    // Written beside and renamed when whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        report(QStringLiteral("Cannot write %1: %2")
                   .arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    Q_EMIT written(path);
    return true;
}

void SweepRecorder::recovered()
{
    if (m_failing) {
        m_failing = false;
        Q_EMIT problem(QString());
    }
}

void SweepRecorder::finish()
{
    m_file.close();
    m_lock.release();
}

void SweepRecorder::report(const QString &text)
{
    m_failing = true;
    Q_EMIT problem(text);
}

} // namespace Listen
