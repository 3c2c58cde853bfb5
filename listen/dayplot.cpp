// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "dayplot.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QPainter>
#include <QTimeZone>

namespace Listen {

namespace {

// The picture's places, in pixels.
constexpr int Width = 700;
constexpr int Height = 420;
constexpr int Left = 52;
constexpr int Right = 16;
constexpr int Top = 30;
constexpr int Bottom = 36;
constexpr int PlotWidth = Width - Left - Right;
constexpr int PlotHeight = Height - Top - Bottom;
constexpr double LowMhz = 2;
constexpr double HighMhz = 30;
constexpr int MarkRadius = 3;

constexpr QRgb Paper = 0xffffffff;
constexpr QRgb Ink = 0xff000000;
constexpr QRgb Grid = 0xffdddddd;
constexpr QRgb BandFill = 0xffd8ecd8;
constexpr QRgb BandInk = 0xff4a7a4a;
constexpr QRgb OneHopMark = 0xffc0392b;
constexpr QRgb TwoHopMark = 0xff2e5cb8;

double yOf(double mhz)
{
    return Top + PlotHeight * (HighMhz - mhz) / (HighMhz - LowMhz);
}

double xOf(double hours)
{
    return Left + PlotWidth * hours / 24;
}

} // namespace

QImage drawDayPlot(QDate utcDay, std::span<const SweepSummary> sweeps)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Paper);
    QPainter painter(&image);
    // Text needs the font database, which only a GUI application has; without one (a
    // console run) the picture is drawn without its words.
    const bool text = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;

    for (const AmateurBand &band : AmateurBands) {
        const double top = yOf(band.topHz / 1e6);
        const double height = std::max(2.0, yOf(band.bottomHz / 1e6) - top);
        painter.fillRect(QRectF(Left, top, PlotWidth, height), QColor(BandFill));
    }
    painter.setPen(QColor(Grid));
    for (int hour = 3; hour < 24; hour += 3)
        painter.drawLine(QPointF(xOf(hour), Top), QPointF(xOf(hour), Top + PlotHeight));
    for (int mhz = 5; mhz < 30; mhz += 5)
        painter.drawLine(QPointF(Left, yOf(mhz)), QPointF(Left + PlotWidth, yOf(mhz)));

    const QDateTime midnight(utcDay, QTime(0, 0), QTimeZone::utc());
    painter.setRenderHint(QPainter::Antialiasing);
    for (const SweepSummary &sweep : sweeps) {
        const double hours = (sweep.sweepStartMs - midnight.toMSecsSinceEpoch()) / 3'600'000.0;
        if (!(hours >= 0 && hours < 24))
            continue;
        if (const auto &two = sweep.scale.twoHop) {
            const QPointF at(xOf(hours), yOf(two->mofHz / 1e6));
            painter.setPen(QPen(QColor(TwoHopMark), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(
                QRectF(at.x() - MarkRadius, at.y() - MarkRadius, 2 * MarkRadius, 2 * MarkRadius));
        }
        if (const auto &one = sweep.scale.oneHop) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(OneHopMark));
            painter.drawEllipse(QPointF(xOf(hours), yOf(one->mofHz / 1e6)), MarkRadius, MarkRadius);
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QColor(Ink));
    painter.drawRect(Left, Top, PlotWidth, PlotHeight);
    for (int hour = 0; hour <= 24; hour += 3) {
        const double x = xOf(hour);
        painter.drawLine(QPointF(x, Top + PlotHeight), QPointF(x, Top + PlotHeight + 4));
    }
    for (int mhz = 5; mhz <= 30; mhz += 5)
        painter.drawLine(QPointF(Left - 4, yOf(mhz)), QPointF(Left, yOf(mhz)));
    if (!text)
        return image;
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);

    for (int hour = 0; hour <= 24; hour += 3) {
        const QRectF box(xOf(hour) - 20, Top + PlotHeight + 5, 40, 14);
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("%1").arg(hour, 2, 10, QChar(u'0')));
    }
    painter.drawText(
        QRectF(Left, Height - 16, PlotWidth, 14), Qt::AlignCenter, QStringLiteral("UTC hour"));
    for (const int mhz : {2, 5, 10, 15, 20, 25, 30}) {
        painter.drawText(QRectF(0, yOf(mhz) - 7, Left - 7, 14),
                         Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(mhz));
    }
    painter.save();
    painter.translate(12, Top + PlotHeight / 2.0);
    painter.rotate(-90);
    painter.drawText(QRectF(-40, -7, 80, 14), Qt::AlignCenter, QStringLiteral("MHz"));
    painter.restore();

    painter.setPen(QColor(BandInk));
    QFont small = font;
    small.setPixelSize(9);
    painter.setFont(small);
    for (const AmateurBand &band : AmateurBands) {
        const double middle = (yOf(band.topHz / 1e6) + yOf(band.bottomHz / 1e6)) / 2;
        painter.drawText(QRectF(Left + 3, middle - 6, 40, 12),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromLatin1(band.metres) + QStringLiteral(" m"));
    }

    // The legend, in the top right corner.
    painter.setFont(font);
    const QRectF legend(Left + PlotWidth - 170, Top + 6, 164, 20);
    painter.setPen(QColor(Ink));
    painter.setBrush(QColor(Paper));
    painter.drawRect(legend);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(OneHopMark));
    painter.drawEllipse(QPointF(legend.left() + 10, legend.center().y()), MarkRadius, MarkRadius);
    painter.setPen(QPen(QColor(TwoHopMark), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(legend.left() + 82 - MarkRadius,
                            legend.center().y() - MarkRadius,
                            2 * MarkRadius,
                            2 * MarkRadius));
    painter.setPen(QColor(Ink));
    painter.drawText(QRectF(legend.left() + 18, legend.top(), 60, legend.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("one hop"));
    painter.drawText(QRectF(legend.left() + 90, legend.top(), 70, legend.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("two hops"));

    QFont bold = font;
    bold.setPixelSize(13);
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(QRectF(Left, 4, PlotWidth, Top - 8),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     utcDay.toString(Qt::ISODate)
                         + QStringLiteral(" UTC: maximum observed frequency"));
    return image;
}

} // namespace Listen
