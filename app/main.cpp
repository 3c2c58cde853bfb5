// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "console.h"
#include "mainwindow.h"
#include "options.h"
#include "systemclock.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>
#include <QWindow>

#include <cstdio>

int main(int argc, char *argv[])
{
    // The command line is read before the window system is needed, so that --help,
    // --version, --check-clock and mistakes in the options work without a display.
    const auto parsed = App::parseCommandLine(App::commandLineArguments(argc, argv));
    if (const auto *error = std::get_if<QString>(&parsed)) {
        App::attachParentConsole();
        App::print(stderr, QStringLiteral("zarvotel: %1\n").arg(*error));
        return 2;
    }
    const App::CommandLine &line = std::get<App::CommandLine>(parsed);
    if (line.help || line.version || line.checkClock)
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

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zarvotel"));
    QApplication::setApplicationVersion(QStringLiteral(ZARVOTEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("net.zarvotel.Zarvotel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/net.zarvotel.Zarvotel.png")));
    // One look on every desktop; the window's places and sizes are fixed in pixels.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    Window::Main window({}, App::systemClockSources(), line.launch);
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
    return QApplication::exec();
}
