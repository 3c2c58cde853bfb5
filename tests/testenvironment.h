// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// What every test binary shares: a fixed locale and time zone, and the stand-in peers
// started on ports they bind themselves.

#include "rigpeer.h"

#include <QLocale>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <ctime>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

// Wine stands in for Windows in the Windows tests; its sockets do not report every event
// a Windows socket does.
inline bool runningUnderWine()
{
#if defined(Q_OS_WIN)
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// The locale and zone every test starts from, whatever the machine says, so that each
// test passes alone and in any order. Tests that need another set it and call this again.
inline void setUpTestEnvironment()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qputenv("TZ", "UTC");
#if defined(Q_OS_WIN)
    _tzset();
#else
    tzset();
#endif
}

// A port on 127.0.0.1 where nothing listens: only for attempts that must be refused.
inline quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Starts rigsim on a port of its own choosing (or the given one) and returns that port,
// or 0 when it did not come up.
inline quint16 startRigsim(QProcess &rigsim, const QStringList &arguments, quint16 port = 0)
{
    rigsim.start(QStringLiteral(RIGSIM_PATH),
                 arguments + QStringList{QStringLiteral("--port"), QString::number(port)});
    if (!rigsim.waitForReadyRead(5000))
        return 0;
    // "rigsim listening on 127.0.0.1:PORT as RIG"
    const QByteArray line = rigsim.readLine();
    const qsizetype colon = line.indexOf(':');
    if (!line.startsWith("rigsim listening on 127.0.0.1:") || colon < 0)
        return 0;
    return quint16(line.mid(colon + 1, line.indexOf(' ', colon) - colon - 1).toUInt());
}
