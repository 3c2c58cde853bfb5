// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QDate>
#include <QIODevice>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <variant>

// What a sweep's ionogram says: its echoes linked into traces across neighbouring steps,
// and the highest frequency each mode is heard at.
namespace Listen {

// One measured step of a sweep, as its CSV row holds it.
struct SweepStep
{
    qint32 frequencyHz = 0;
    double snrDb = 0;
    QList<double> delaysMs; // the echoes, strongest first; empty: nothing heard
};

// A mode's maximum observed frequency: the highest step at which it is heard (a multiple
// of the step, Hz), and its delay there (ms, as the CSV gives it).
struct ModeReading
{
    qint32 mofHz = 0;
    double delayMs = 0;
};

// A sweep scaled. oneHop is none when the sweep is too poor to scale: then twoHop is none
// too. twoHop may be none in a scaled sweep (no second hop heard).
struct SweepScale
{
    std::optional<ModeReading> oneHop;
    std::optional<ModeReading> twoHop;
    std::optional<qint32> lowestHz; // the lowest step at which one hop is heard
    int stepsHeard = 0;
    int stepsMeasured = 0;
};

// Scales a sweep from its measured steps, in any order.
SweepScale scaleSweep(std::span<const SweepStep> steps);

// A sweep's scale with what names it in the day's summary.
struct SweepSummary
{
    qint64 sweepStartMs = 0; // the sweep's name time (its CSV's file name), ms since the epoch
    std::optional<double> periodS;
    std::optional<double> chirptimeS;
    std::optional<double> rateKhzPerS;
    SweepScale scale;
};

// The day's summary file in the ionogram folder: "YYYYMMDD-summary.csv" for a UTC day, and
// its day plot "YYYYMMDD-mof.png".
QString summaryFileName(QDate utcDay);
QString dayPlotFileName(QDate utcDay);

// The summary's first line and one sweep's line, each with its line end; and a line read
// back (none when it is not one).
QByteArray summaryHeader();
QByteArray summaryRow(const SweepSummary &summary);
std::optional<SweepSummary> summaryFromRow(const QByteArray &row);

// The amateur bands, by their names in metres ("40").
struct AmateurBand
{
    const char *metres;
    qint32 bottomHz;
    qint32 topHz;
};
inline constexpr AmateurBand AmateurBands[] = {{"80", 3'500'000, 4'000'000},
                                               {"60", 5'351'500, 5'366'500},
                                               {"40", 7'000'000, 7'300'000},
                                               {"30", 10'100'000, 10'150'000},
                                               {"20", 14'000'000, 14'350'000},
                                               {"17", 18'068'000, 18'168'000},
                                               {"15", 21'000'000, 21'450'000},
                                               {"12", 24'890'000, 24'990'000},
                                               {"10", 28'000'000, 29'700'000}};

// The amateur bands one hop reaches in a scaled sweep, as their names in metres ("40").
QStringList openBands(const SweepScale &scale);

// The status line's words for a finished sweep: "Sweep of 10:05 UTC: MOF 14.3 MHz (12.10 ms);
// open: 40, 30, 20 m", or that it could not be scaled.
QString sweepSummaryText(const SweepSummary &summary);

// A sweep's CSV read back: its steps, or why it cannot be read (a phrase in lower case).
std::variant<QList<SweepStep>, QString> readSweepCsv(QIODevice &file);

// The sweep's name time from its CSV's file name ("20261208-100500Z.csv"); none when the
// name is not one.
std::optional<qint64> sweepStartFromFileName(const QString &fileName);

} // namespace Listen

Q_DECLARE_METATYPE(Listen::SweepSummary)
