// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audiocapture.h"
#include "console.h"
#include "keptsettings.h"
#include "listener.h"
#include "mainwindow.h"
#include "options.h"
#include "sweeprecorder.h"
#include "sweepscaling.h"
#include "systemclock.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>
#include <QWindow>

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

// --scale: the summary's header and a row for each sweep CSV, in the order given; 1 when a
// file could not be read (said on standard error), 0 otherwise.
int scaleSweeps(const App::ScaleRequest &request)
{
    App::print(stdout, QString::fromLatin1(Listen::summaryHeader()));
    int status = 0;
    for (const QString &path : request.files) {
        const QString name = QDir::toNativeSeparators(path);
        const auto fail = [&](const QString &why) {
            App::print(stderr, QStringLiteral("zarvotel: %1: %2\n").arg(name, why));
            status = 1;
        };
        const auto startMs = Listen::sweepStartFromFileName(path);
        if (!startMs) {
            fail(QStringLiteral("its name is not a sweep's, as 20261208-100500Z.csv"));
            continue;
        }
        QFile file(path);
        if (!file.exists()) {
            fail(QStringLiteral("there is no such file"));
            continue;
        }
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot be read: ") + file.errorString());
            continue;
        }
        const auto read = Listen::readSweepCsv(file);
        if (const auto *why = std::get_if<QString>(&read)) {
            fail(*why);
            continue;
        }
        const auto &steps = std::get<QList<Listen::SweepStep>>(read);
        const Listen::SweepSummary summary{*startMs,
                                           request.periodS,
                                           request.chirptimeS,
                                           request.rateKhzPerS,
                                           Listen::scaleSweep(steps)};
        App::print(stdout, QString::fromLatin1(Listen::summaryRow(summary)));
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    Listen::keepLargeBuffers();
    // Named before anything asks for the data folder (the ionograms' default).
    QCoreApplication::setApplicationName(QStringLiteral("zarvotel"));
    // The command line is read before the window system is needed, so that --help,
    // --version, --check-clock and mistakes in the options work without a display; it is
    // read over listening's settings kept from earlier runs.
    const QString settingsPath = Window::keptSettingsPath();
    const auto parsed = App::parseCommandLine(
        App::commandLineArguments(argc, argv), {}, Window::readKeptListening(settingsPath));
    if (const auto *error = std::get_if<QString>(&parsed)) {
        App::attachParentConsole();
        App::print(stderr, QStringLiteral("zarvotel: %1\n").arg(*error));
        return 2;
    }
    const App::CommandLine &line = std::get<App::CommandLine>(parsed);
    if (line.help || line.version || line.checkClock || line.scale)
        App::attachParentConsole();
    if (line.help) {
        App::print(stdout, App::helpText());
        return 0;
    }
    if (line.version) {
        App::print(stdout, QStringLiteral("zarvotel " ZARVOTEL_VERSION "\n"));
        return 0;
    }
    if (line.checkClock) {
        const Tracking::ClockHealth health
            = Window::ClockWatcher::askNow(*App::systemClockSources());
        App::print(stdout, Tracking::clockHealthText(health) + QLatin1Char('\n'));
        return Tracking::clockIsGood(health) ? 0 : 1;
    }

    if (line.scale)
        return scaleSweeps(*line.scale);

    if (line.listAudioInputs) {
        App::attachParentConsole();
        QCoreApplication core(argc, argv);
        const QStringList inputs = Listen::audioInputLines();
        if (inputs.isEmpty() && !Listen::soundServerAnswers()) {
            App::print(stderr,
                       QStringLiteral("zarvotel: no sound server answers (PulseAudio or "
                                      "PipeWire), so there is no audio input.\n"));
            return 1;
        }
        App::print(stdout,
                   inputs.isEmpty() ? QStringLiteral("No audio input.\n")
                                    : inputs.join(u'\n') + u'\n');
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(ZARVOTEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("net.zarvotel.Zarvotel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/net.zarvotel.Zarvotel.png")));
    // One look on every desktop; the window's places and sizes are fixed in pixels.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // An input asked for by name must be there, unless there is none at all yet (a sound
    // server still starting, a card not plugged in): the ionogram window then says so.
    const QString &inputText = line.launch.listening.inputText;
    if (line.launch.listen && !inputText.isEmpty()) {
        const QStringList inputs = Listen::audioInputNames();
        if (!inputs.isEmpty() && !Listen::findAudioInput(inputText)) {
            App::attachParentConsole();
            App::print(stderr,
                       QStringLiteral("zarvotel: no audio input's name contains \"%1\"; "
                                      "the inputs are: %2\n")
                           .arg(inputText, inputs.join(QStringLiteral(", "))));
            return 2;
        }
    }

    // An input that cannot give what listening asks (I/Q from one channel, a passband over
    // half its rate) is refused now; one that comes later is refused in the ionogram window.
    if (line.launch.listen || line.launch.findHz) {
        Listen::ListenOptions listening = line.launch.listening;
        const Listen::DetectorSettings settings = Listen::detectorSettingsFor(listening);
        if (const auto input = Listen::findAudioInput(inputText)) {
            const QString why
                = Listen::inputMismatch(input->description(), input->preferredFormat(), settings);
            if (!why.isEmpty()) {
                App::attachParentConsole();
                App::print(stderr, QStringLiteral("zarvotel: %1\n").arg(why));
                return 2;
            }
        }
    }

    // One Zarvotel to an ionogram folder: a second would write the same files.
    if (line.launch.listen) {
        const QString &folder = line.launch.listening.folder;
        Listen::FolderLock lock(folder.isEmpty() ? Listen::defaultIonogramFolder() : folder);
        if (lock.take() == Listen::FolderLock::Result::InUse) {
            App::attachParentConsole();
            App::print(stderr, QStringLiteral("zarvotel: %1\n").arg(lock.refusal()));
            return 2;
        }
    }

    Window::LaunchOptions launch = line.launch;
    launch.settingsPath = settingsPath;
    Window::Main window({}, App::systemClockSources(), launch);
    window.show();
    // Closing the window ends the program; so does its window being destroyed or hidden from
    // outside, which would otherwise leave the radio being retuned by an invisible program.
    if (QWindow *handle = window.windowHandle()) {
        QObject::connect(handle, &QObject::destroyed, &app, &QApplication::quit);
        QObject::connect(handle, &QWindow::visibleChanged, &app, [&window](bool visible) {
            if (!visible && !window.isMinimized())
                QApplication::quit();
        });
    }
    window.pressLaunchButtons();
    if (line.launch.listen)
        window.startListening();

    // Finding: each sounder on a line as it is found or heard again, and the whole list last,
    // after the time given or when a window is closed.
    Listen::SounderSearch *search
        = window.listenSession() ? window.listenSession()->listener().finding() : nullptr;
    if (search) {
        App::attachParentConsole();
        QObject::connect(search, &Listen::SounderSearch::reported, &app, [](const QString &text) {
            App::print(stdout, text + u'\n');
        });
        QObject::connect(search, &Listen::SounderSearch::ended, &app, [](const QString &text) {
            App::print(stdout, text);
        });
        QObject::connect(search, &Listen::SounderSearch::timeUp, &app, &QApplication::quit);
        // The ionogram window's listening is gone once the window is closed: the list first.
        const Window::IonogramWindow &ionogram = window.listenSession()->window();
        QObject::connect(
            &ionogram, &Window::IonogramWindow::closed, search, &Listen::SounderSearch::end);
        QObject::connect(&ionogram, &Window::IonogramWindow::closed, &app, &QApplication::quit);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, search, &Listen::SounderSearch::end);
        search->endAfter(line.launch.findSeconds);
    }
    return QApplication::exec();
}
