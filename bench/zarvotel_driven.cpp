// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Zarvotel as the program starts it, with the user's two clicks made for it: Connect to
// 127.0.0.1:PORT, then Start once the link is up. Usage: zarvotel_driven PORT [PROTOCOL]

#include "mainwindow.h"
#include "systemclock.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const auto protocol
        = Rig::protocolFromOption(QString::fromLatin1(argc > 2 ? argv[2] : "hrd-text"));
    Window::LaunchOptions options;
    options.protocol = protocol.value_or(Rig::Protocol::HrdText);
    Window::Main window({}, App::systemClockSources(), options);
    window.show();
    std::printf("shown\n");
    std::fflush(stdout);
    if (qEnvironmentVariableIsSet("BENCH_QUIT_WHEN_SHOWN"))
        return 0;

    window.controls().port->setText(QString::fromLatin1(argc > 1 ? argv[1] : "7809"));
    QObject::connect(&window.Winsock(), &Rig::RigClient::connected, &window, [&] {
        if (!window.isTimer1Enabled())
            window.controls().Command1->click();
    });
    window.controls().connect->click();
    return QApplication::exec();
}
