// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// A PulseAudio server of the test's own (Linux): its own runtime folder, home and socket,
// and one source, "radio", that plays what is written into its FIFO (48 kHz mono s16le), and
// on demand a second, "radio-iq", for stereo I/Q at a chosen rate. The process points Qt
// Multimedia at it through PULSE_SERVER (from the start, or from useFromNow() on, so that
// the server can start late), so nothing of the machine's own sound is touched. It can be
// stopped and started again at the same address.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class SoundServer
{
public:
    // Points this process (and what it starts) at the server, running or not.
    void useFromNow() const { qputenv("PULSE_SERVER", address().toLocal8Bit()); }
    QString address() const { return QStringLiteral("unix:") + socket(); }
    bool isRunning() const { return m_server.state() == QProcess::Running; }

    // Starts the server; false, with the reason in errorString(), when it cannot.
    bool start()
    {
        const QDir dir(m_dir.path());
        // Left by a server that was killed; the source refuses a FIFO path that is taken.
        QFile::remove(socket());
        QFile::remove(fifo());
        QFile::remove(iqFifo());
        dir.mkpath(QStringLiteral("runtime"));
        dir.mkpath(QStringLiteral("home"));
        QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           dir.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        environment.remove(QStringLiteral("PULSE_SERVER"));
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_server.setProcessEnvironment(environment);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"),
                        QStringLiteral("--daemonize=no"),
                        QStringLiteral("--exit-idle-time=-1"),
                        QStringLiteral("--disable-shm"),
                        QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 "
                                       "socket=")
                            + socket(),
                        QStringLiteral("--load=module-pipe-source source_name=radio file=") + fifo()
                            + QStringLiteral(" format=s16le rate=48000 channels=1 "
                                             "source_properties=device.description=radio")});
        if (!m_server.waitForStarted(5000))
            return fail(m_server.errorString());
        // Up once both the socket and the FIFO are there.
        QDeadlineTimer deadline(10'000);
        while (!(QFileInfo::exists(socket()) && QFileInfo::exists(fifo()))) {
            if (deadline.hasExpired() || m_server.state() != QProcess::Running)
                return fail(QString::fromLocal8Bit(m_server.readAll()));
            QTest::qWait(50);
        }
        useFromNow();
        return true;
    }

    // Stops the server (as its clients see a sound server end).
    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    ~SoundServer() { stop(); }

    // pactl against this server, and its exit status.
    int pactl(const QStringList &arguments) const
    {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"),
                    QStringList{QStringLiteral("--server=unix:") + socket()} + arguments);
        if (!pactl.waitForFinished(10'000))
            return -1;
        return pactl.exitCode();
    }
    // Loads the source "radio" again (after it was unloaded); the source makes its FIFO
    // itself, and refuses a path that is taken.
    int loadRadio() const
    {
        QFile::remove(fifo());
        return pactl({QStringLiteral("load-module"),
                      QStringLiteral("module-pipe-source"),
                      QStringLiteral("source_name=radio"),
                      QStringLiteral("file=") + fifo(),
                      QStringLiteral("format=s16le"),
                      QStringLiteral("rate=48000"),
                      QStringLiteral("channels=1"),
                      QStringLiteral("source_properties=device.description=radio")});
    }

    // Loads the source "radio-iq": interleaved I (left) and Q (right) s16le at rateHz, from
    // iqFifo(); pactl's exit status.
    int loadRadioIq(int rateHz) const
    {
        QFile::remove(iqFifo());
        return pactl({QStringLiteral("load-module"),
                      QStringLiteral("module-pipe-source"),
                      QStringLiteral("source_name=radio-iq"),
                      QStringLiteral("file=") + iqFifo(),
                      QStringLiteral("format=s16le"),
                      QStringLiteral("rate=%1").arg(rateHz),
                      QStringLiteral("channels=2"),
                      QStringLiteral("channel_map=front-left,front-right"),
                      QStringLiteral("source_properties=device.description=radio-iq")});
    }

    QString fifo() const { return m_dir.filePath(QStringLiteral("radio.fifo")); }
    QString iqFifo() const { return m_dir.filePath(QStringLiteral("radio-iq.fifo")); }
    QString socket() const { return m_dir.filePath(QStringLiteral("runtime/native")); }
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &why)
    {
        m_error = QStringLiteral("pulseaudio did not start: ") + why;
        return false;
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_error;
};
