// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ionogrampicture.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Window {

namespace {

constexpr QRgb Unmeasured = 0xff9a9a9a;
constexpr QRgb Paper = 0xffffffff;
constexpr QRgb Ink = 0xff000000;
// The PNG's text keys that mark a picture as Zarvotel's, and its delays.
constexpr auto SoftwareKey = "Software";
constexpr auto DelaysKey = "Delays";

constexpr double KmPerMs = 299.792458; // light's

// Dark blue through purple, red and orange to pale yellow.
constexpr QRgb Stops[] = {0xff000428, 0xff3b0f70, 0xff8c2981, 0xffde4968, 0xfffe9f6d, 0xfffcfdbf};

} // namespace

QRgb IonogramPicture::colourFor(double snrDb)
{
    const double x
        = std::clamp((snrDb - DbLow) / (DbHigh - DbLow), 0.0, 1.0) * (std::size(Stops) - 1);
    const int i = std::min(int(x), int(std::size(Stops)) - 2);
    const double f = x - i;
    const auto mix = [f](int a, int b) {
        return int(std::lround(a + (b - a) * f));
    };
    const QRgb a = Stops[i], b = Stops[i + 1];
    return qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
}

IonogramPicture::IonogramPicture(double delayFromMs, double delayToMs, int rows)
    : m_delayFromMs(delayFromMs)
    , m_delayToMs(delayToMs)
    , m_rows(std::clamp(
          rows > 0 ? rows : int(std::lround((delayToMs - delayFromMs) * 10)), 50, MostRows))
    , m_image(Left + Tracking::SweepSteps * ColumnWidth + Right,
              Top + m_rows + Bottom,
              QImage::Format_RGB32)
{
    m_image.setText(QString::fromLatin1(SoftwareKey), QStringLiteral("Zarvotel"));
    m_image.setText(QString::fromLatin1(DelaysKey),
                    QStringLiteral("%1 to %2 ms").arg(delayFromMs).arg(delayToMs));
    beginSweep(QString());
}

void IonogramPicture::beginSweep(const QString &title)
{
    m_filled = 0;
    m_drawn.fill(false, Tracking::SweepSteps);
    m_image.fill(Paper);
    QPainter painter(&m_image);
    painter.fillRect(Left, Top, Tracking::SweepSteps * ColumnWidth, m_rows, QColor(Unmeasured));
    painter.end();
    drawFrame(title);
}

void IonogramPicture::setColumn(const Listen::StepReading &reading)
{
    const int column = Tracking::stepColumn(reading.step.dialHz);
    if (column < 0 || column >= Tracking::SweepSteps)
        return;
    const qsizetype bins = reading.profileDb.size();
    for (int row = 0; row < m_rows; ++row) {
        const qsizetype bin = bins > 0 ? std::min(qsizetype(row) * bins / m_rows, bins - 1) : -1;
        const QRgb colour = bin >= 0 ? colourFor(reading.profileDb[bin]) : colourFor(-100);
        for (int x = 0; x < ColumnWidth; ++x)
            m_image.setPixel(Left + column * ColumnWidth + x, Top + row, colour);
    }
    // An echo the CSV holds is never left out of the picture: beyond the drawn delays, it is
    // marked at the column's edge on its side.
    for (const Listen::Echo &echo : reading.echoes) {
        if (echo.delayMs >= m_delayFromMs && echo.delayMs <= m_delayToMs)
            continue;
        const int top = echo.delayMs < m_delayFromMs ? 0 : m_rows - EdgeMarkRows;
        for (int row = top; row < top + EdgeMarkRows; ++row) {
            for (int x = 0; x < ColumnWidth; ++x)
                m_image.setPixel(Left + column * ColumnWidth + x, Top + row, EdgeMarkColour);
        }
    }
    if (!m_drawn[column]) {
        m_drawn[column] = true;
        ++m_filled;
    }
}

bool IonogramPicture::continueFrom(const QImage &saved)
{
    const QString software = QString::fromLatin1(SoftwareKey);
    const QString delays = QString::fromLatin1(DelaysKey);
    if (saved.size() != m_image.size() || saved.text(software) != m_image.text(software)
        || saved.text(delays) != m_image.text(delays))
        return false;
    const QImage from = saved.convertToFormat(m_image.format());
    QPainter painter(&m_image);
    for (int column = 0; column < Tracking::SweepSteps; ++column) {
        const int x = Left + column * ColumnWidth;
        // Every colour of the scale differs from the grey of a column not measured.
        if (m_drawn[column] || from.pixel(x, Top) == Unmeasured)
            continue;
        painter.drawImage(QPoint(x, Top), from, QRect(x, Top, ColumnWidth, m_rows));
        m_drawn[column] = true;
        ++m_filled;
    }
    return true;
}

int IonogramPicture::rowOf(double delayMs) const
{
    const double row = (delayMs - m_delayFromMs) / (m_delayToMs - m_delayFromMs) * m_rows;
    return std::clamp(int(std::lround(row)), 0, m_rows - 1);
}

bool IonogramPicture::markMof(QImage &image, const Listen::ModeReading &mof) const
{
    const QString delays = QString::fromLatin1(DelaysKey);
    const int column = Tracking::stepColumn(mof.mofHz);
    if (column < 0 || column >= Tracking::SweepSteps || image.size() != m_image.size()
        || image.text(delays) != m_image.text(delays))
        return false;
    const int x = Left + column * ColumnWidth;
    const int y = Top + rowOf(mof.delayMs);
    const int top = std::max(Top, y - MofMarkRows / 2);
    const int bottom = std::min(Top + m_rows - 1, y + MofMarkRows / 2);
    QPainter painter(&image);
    painter.fillRect(QRect(x, top, ColumnWidth, bottom - top + 1), QColor(MofColour));
    QFont font = painter.font();
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    // The label beside the mark, on its left near the picture's right edge.
    const bool leftOfMark
        = x + ColumnWidth + 4 + MofLabelWidth > Left + Tracking::SweepSteps * ColumnWidth;
    const QRect label = leftOfMark ? QRect(x - 4 - MofLabelWidth, y - 8, MofLabelWidth, 16)
                                   : QRect(x + ColumnWidth + 4, y - 8, MofLabelWidth, 16);
    const QString text = QStringLiteral("MOF %1 MHz").arg(QString::number(mof.mofHz / 1e6, 'f', 1));
    const int align = (leftOfMark ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    // Dark behind the light letters, readable on every colour of the scale.
    painter.setPen(QColor(Ink));
    for (const QPoint offset : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
        painter.drawText(label.translated(offset), align, text);
    painter.setPen(QColor(MofColour));
    painter.drawText(label, align, text);
    return true;
}

QList<IonogramPicture::ScaleMark>
IonogramPicture::kmMarks(double delayFromMs, double delayToMs, int rows)
{
    const double kmPerRow = (delayToMs - delayFromMs) * KmPerMs / rows;
    // The roundest step whose labels stand at least 28 rows apart.
    double stepKm = 100000;
    for (const double step : {500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0, 50000.0}) {
        if (step / kmPerRow >= 28) {
            stepKm = step;
            break;
        }
    }
    QList<ScaleMark> marks;
    const double fromKm = std::max(0.0, delayFromMs * KmPerMs);
    for (double km = std::ceil(fromKm / stepKm) * stepKm; km <= delayToMs * KmPerMs; km += stepKm) {
        const int row
            = int(std::lround((km / KmPerMs - delayFromMs) / (delayToMs - delayFromMs) * rows));
        marks.append({row, QString::number(km, 'f', 0)});
    }
    return marks;
}

void IonogramPicture::drawFrame(const QString &title)
{
    QPainter painter(&m_image);
    painter.setPen(QColor(Ink));
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const int width = Tracking::SweepSteps * ColumnWidth;
    painter.drawRect(Left - 1, Top - 1, width + 1, m_rows + 1);

    // Frequency: a tick at every MHz, a label at every other.
    for (int mhz = 2; mhz <= 30; ++mhz) {
        const int x = Left + (mhz - 2) * 10 * ColumnWidth + ColumnWidth / 2;
        const int length = mhz % 2 == 0 ? 6 : 3;
        painter.drawLine(x, Top + m_rows, x, Top + m_rows + length);
        if (mhz % 2 == 0)
            painter.drawText(
                QRect(x - 15, Top + m_rows + 7, 30, 14), Qt::AlignCenter, QString::number(mhz));
    }
    painter.drawText(QRect(Left, Top + m_rows + 24, width, 16),
                     Qt::AlignCenter,
                     QStringLiteral("Frequency (MHz)"));

    // Delay: a tick every 5 ms, labelled.
    const double span = m_delayToMs - m_delayFromMs;
    const double stepMs = span > 100 ? 20 : span > 40 ? 10 : 5;
    for (double ms = std::ceil(m_delayFromMs / stepMs) * stepMs; ms <= m_delayToMs + 1e-9;
         ms += stepMs) {
        const int y = Top + int(std::lround((ms - m_delayFromMs) / span * m_rows));
        painter.drawLine(Left - 6, y, Left - 1, y);
        painter.drawText(QRect(Left - 46, y - 7, 38, 14),
                         Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(ms));
    }
    painter.save();
    painter.translate(12, Top + m_rows / 2);
    painter.rotate(-90);
    painter.drawText(QRect(-60, -8, 120, 16), Qt::AlignCenter, QStringLiteral("Delay (ms)"));
    painter.restore();

    // The group path beside it, on the right: delay × c, as ionosonde users read it.
    const int right = Left + width;
    for (const ScaleMark &mark : kmMarks(m_delayFromMs, m_delayToMs, m_rows)) {
        const int y = Top + mark.row;
        painter.drawLine(right, y, right + KmTick, y);
        painter.drawText(QRect(right + KmTick + 5, y - 7, KmLabelWidth, 14),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         mark.text);
    }
    painter.save();
    painter.translate(right + Right - 12, Top + m_rows / 2);
    painter.rotate(90);
    painter.drawText(QRect(-70, -8, 140, 16), Qt::AlignCenter, QStringLiteral("Group path (km)"));
    painter.restore();

    // The colours' key, at the title's right: SNR from DbLow to DbHigh.
    constexpr int KeyWidth = 150;
    const int keyLeft = Left + width - KeyWidth;
    for (int x = 0; x < KeyWidth; ++x) {
        painter.setPen(QColor(colourFor(DbLow + (DbHigh - DbLow) * x / (KeyWidth - 1))));
        painter.drawLine(keyLeft + x, 10, keyLeft + x, 20);
    }
    painter.setPen(QColor(Ink));
    painter.drawText(QRect(keyLeft - 110, 6, 104, 18),
                     Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("SNR %1 dB").arg(DbLow));
    painter.drawText(QRect(keyLeft + KeyWidth + 4, 6, Right, 18),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QString::number(DbHigh));

    font.setBold(true);
    painter.setFont(font);
    painter.drawText(
        QRect(Left, 6, width - KeyWidth - 120, 18), Qt::AlignLeft | Qt::AlignVCenter, title);
}

} // namespace Window
