// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The least a Qt program can do for this job: one 384 x 202 window with four plain line
// edits where Zarvotel shows its values, one 100 ms precise timer that writes a changing
// number into three of them and the clock into the fourth, and one socket that writes a
// 27-byte line per tick. Usage: floor PORT

#include <QApplication>
#include <QLineEdit>
#include <QTcpSocket>
#include <QTime>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const quint16 port = argc > 1 ? quint16(QByteArray(argv[1]).toUInt()) : 7809;

    QWidget window;
    window.resize(384, 202);
    QLineEdit text2(&window), text3(&window), text5(&window), text1(&window);
    text2.setGeometry(96, 8, 121, 27);
    text3.setGeometry(240, 224, 57, 23);
    text5.setGeometry(240, 256, 57, 19);
    text1.setGeometry(96, 136, 57, 19);

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);

    int count = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, &window, [&] {
        const QString number = QString::number(++count);
        text2.setText(number);
        text3.setText(number);
        text5.setText(number);
        const QTime now = QTime::currentTime();
        text1.setText(
            QStringLiteral("%1:%2:%3").arg(now.hour()).arg(now.minute()).arg(now.second()));
        socket.write("set frequency-hz 21900000\r\n");
    });
    timer.start();

    window.show();
    std::printf("shown\n");
    std::fflush(stdout);
    if (qEnvironmentVariableIsSet("BENCH_QUIT_WHEN_SHOWN"))
        return 0;
    return QApplication::exec();
}
