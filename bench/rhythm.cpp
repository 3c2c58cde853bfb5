// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the floor program and Zarvotel side by side, interleaved, each connected to a
// loopback peer that timestamps every line, and compares their figures.
// Usage: rhythm FLOOR ZARVOTEL [SECONDS_EACH] [ROUNDS]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

struct Figures
{
    QList<double> intervalsMs;
    qint64 lines = 0;
    qint64 missing = 0;
    qint64 extra = 0;
    double driftMs = 0;
    double cpuSeconds = 0;
    double runSeconds = 0;
    qint64 peakRssKiB = 0;
    QList<double> startupMs;
};

double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble())
           / double(sysconf(_SC_CLK_TCK));
}

qint64 peakRssOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// One run of a program for the given seconds of ticking.
bool runOnce(const QString &program, int seconds, Figures &figures)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return false;
    QList<qint64> arrivals;
    QElapsedTimer clock;
    QByteArray pending;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            const qint64 now = clock.nsecsElapsed();
            pending += socket->readAll();
            for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
                arrivals << now;
        });
    });

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    clock.start();
    process.start(program, {QString::number(server.serverPort())});
    if (!process.waitForStarted(5000))
        return false;
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10'000))
            return false;
    }

    QElapsedTimer limit;
    limit.start();
    while (arrivals.isEmpty() && limit.elapsed() < 10'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (arrivals.isEmpty())
        return false;
    const double cpuAtFirst = cpuSecondsOf(process.processId());
    const qint64 first = arrivals.first();
    while (clock.nsecsElapsed() - first < qint64(seconds) * 1'000'000'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    figures.cpuSeconds += cpuSecondsOf(process.processId()) - cpuAtFirst;
    figures.peakRssKiB = std::max(figures.peakRssKiB, peakRssOf(process.processId()));
    process.kill();
    process.waitForFinished();

    const double spanMs = (arrivals.last() - first) / 1e6;
    figures.runSeconds += spanMs / 1000;
    for (qsizetype i = 1; i < arrivals.size(); ++i)
        figures.intervalsMs << (arrivals[i] - arrivals[i - 1]) / 1e6;
    const qint64 expected = std::llround(spanMs / 100) + 1;
    figures.lines += arrivals.size();
    figures.missing += std::max<qint64>(0, expected - arrivals.size());
    figures.extra += std::max<qint64>(0, arrivals.size() - expected);
    figures.driftMs += spanMs - (arrivals.size() - 1) * 100.0;
    return true;
}

// Milliseconds from starting the program to its window shown, for a program that quits there.
bool startOnce(const QString &program, Figures &figures)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("BENCH_QUIT_WHEN_SHOWN"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {QStringLiteral("1")});
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10'000))
            return false;
    }
    figures.startupMs << clock.nsecsElapsed() / 1e6;
    return process.waitForFinished(10'000);
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, qsizetype(p * double(values.size())))];
}

QList<double> deviations(const QList<double> &intervals)
{
    QList<double> out;
    for (double interval : intervals)
        out << std::abs(interval - 100.0);
    return out;
}

void row(const char *name, double floorValue, double ours, const char *unit, const char *target)
{
    const double ratio = floorValue > 0 ? ours / floorValue : 0;
    std::printf(
        "%-28s %12.3f %12.3f %8.2f  %-4s %s\n", name, floorValue, ours, ratio, unit, target);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: rhythm FLOOR ZARVOTEL [SECONDS_EACH] [ROUNDS]\n");
        return 2;
    }
    const QString floorProgram = QString::fromLocal8Bit(argv[1]);
    const QString ourProgram = QString::fromLocal8Bit(argv[2]);
    const int seconds = argc > 3 ? std::max(2, atoi(argv[3])) : 60;
    const int rounds = argc > 4 ? std::max(1, atoi(argv[4])) : 2;

    Figures floorFigures, ours;
    constexpr int Starts = 21;
    std::fprintf(stderr, "start-up: %d starts of each, interleaved\n", Starts);
    for (int i = 0; i < Starts; ++i) {
        if (!startOnce(floorProgram, floorFigures) || !startOnce(ourProgram, ours)) {
            std::fprintf(stderr, "rhythm: a program did not show its window\n");
            return 1;
        }
    }
    for (int round = 0; round < rounds; ++round) {
        std::fprintf(stderr,
                     "round %d of %d: floor, then Zarvotel, %d s each\n",
                     round + 1,
                     rounds,
                     seconds / rounds);
        if (!runOnce(floorProgram, seconds / rounds, floorFigures)
            || !runOnce(ourProgram, seconds / rounds, ours)) {
            std::fprintf(stderr, "rhythm: a program did not start, show or connect\n");
            return 1;
        }
    }

    const auto perMinute = [](const Figures &f) {
        return f.cpuSeconds / f.runSeconds * 60;
    };
    const auto median = [](const Figures &f) {
        return percentile(f.startupMs, 0.5);
    };
    const double floorP99 = percentile(deviations(floorFigures.intervalsMs), 0.99);
    const double ourP99 = percentile(deviations(ours.intervalsMs), 0.99);

    std::printf("%-28s %12s %12s %8s\n", "figure", "floor", "zarvotel", "ratio");
    row("median interval",
        percentile(floorFigures.intervalsMs, 0.5),
        percentile(ours.intervalsMs, 0.5),
        "ms",
        "");
    row("p99 deviation from 100 ms",
        floorP99,
        ourP99,
        "ms",
        "target: within 1.5x floor and under 2 ms");
    row("max deviation from 100 ms",
        percentile(deviations(floorFigures.intervalsMs), 1.0),
        percentile(deviations(ours.intervalsMs), 1.0),
        "ms",
        "");
    row("lines received", double(floorFigures.lines), double(ours.lines), "", "");
    row("lines missing", double(floorFigures.missing), double(ours.missing), "", "target: 0");
    row("lines extra", double(floorFigures.extra), double(ours.extra), "", "target: 0");
    row("drift over the run", floorFigures.driftMs / rounds, ours.driftMs / rounds, "ms", "");
    row("CPU per minute running",
        perMinute(floorFigures),
        perMinute(ours),
        "s",
        "target: within 2x");
    row("peak RSS",
        double(floorFigures.peakRssKiB),
        double(ours.peakRssKiB),
        "KiB",
        "target: within 1.25x");
    row("start to window shown, median",
        median(floorFigures),
        median(ours),
        "ms",
        "target: within 1.25x");

    QStringList missed;
    if (!(ourP99 <= 1.5 * floorP99 && ourP99 < 2.0))
        missed << QStringLiteral("p99 deviation");
    if (ours.missing != 0 || ours.extra != 0)
        missed << QStringLiteral("lines missing or extra");
    if (perMinute(ours) > 2 * perMinute(floorFigures))
        missed << QStringLiteral("CPU");
    if (ours.peakRssKiB > 1.25 * floorFigures.peakRssKiB)
        missed << QStringLiteral("peak RSS");
    if (median(ours) > 1.25 * median(floorFigures))
        missed << QStringLiteral("start-up");
    std::printf("targets %s\n",
                missed.isEmpty()
                    ? "met"
                    : qPrintable(QStringLiteral("missed: ") + missed.join(QStringLiteral(", "))));
    return 0;
}
