// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "console.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>
#endif

namespace App {

namespace {

// argv read in the locale's encoding.
QStringList localArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

#ifdef Q_OS_WIN

namespace {

// A standard handle, or nullptr where it goes nowhere (a window program started without
// redirection has none).
HANDLE standardHandle(DWORD which)
{
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE
        || GetFileType(handle) == FILE_TYPE_UNKNOWN)
        return nullptr;
    return handle;
}

} // namespace

QStringList commandLineArguments(int argc, char *argv[])
{
    int count = 0;
    if (LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        QStringList arguments;
        for (int i = 0; i < count; ++i)
            arguments << QString::fromWCharArray(wide[i]);
        LocalFree(wide);
        return arguments;
    }
    return localArguments(argc, argv);
}

void attachParentConsole()
{
    const HANDLE out = standardHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = standardHandle(STD_ERROR_HANDLE);
    if ((out != nullptr && err != nullptr) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // Read access as well, which GetConsoleMode needs. The C runtime's freopen of "CONOUT$"
    // is not used: it fails on a stream that had no handle at start (Wine's msvcrt).
    const HANDLE console = CreateFileW(L"CONOUT$",
                                       GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr,
                                       OPEN_EXISTING,
                                       0,
                                       nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return;
    // Attaching may set every standard handle to the console; a redirected one stays.
    SetStdHandle(STD_OUTPUT_HANDLE, out != nullptr ? out : console);
    SetStdHandle(STD_ERROR_HANDLE, err != nullptr ? err : console);
}

void print(std::FILE *stream, const QString &text)
{
    std::fflush(stream);
    const HANDLE handle = standardHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && GetConsoleMode(handle, &mode)) {
        auto *chars = reinterpret_cast<const wchar_t *>(text.utf16());
        auto left = DWORD(text.size());
        DWORD written = 0;
        while (left > 0 && WriteConsoleW(handle, chars, left, &written, nullptr) && written > 0) {
            chars += written;
            left -= written;
        }
        return;
    }
    // A file or pipe: the C runtime's stream, in text mode, so lines end in CR LF.
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

#else

QStringList commandLineArguments(int argc, char *argv[])
{
    return localArguments(argc, argv);
}

void attachParentConsole() {}

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

#endif

} // namespace App
