// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QStringList>

#include <cstdio>

namespace App {

// The program's arguments, its name first. On Windows they come from the wide command line,
// so that no character is lost to the ANSI code page; elsewhere argv in the locale's encoding.
QStringList commandLineArguments(int argc, char *argv[]);

// On Windows, where a window program starts without a console, attaches to the console of the
// program that started this one, and sends there whichever of standard output and error is
// not already going to a file, pipe or console. Does nothing elsewhere.
void attachParentConsole();

// Writes text to stream, stdout or stderr: on Windows as UTF-16 to a console, so that the
// console's code page does not matter, and as UTF-8 to a file or pipe; elsewhere in the
// locale's encoding.
void print(std::FILE *stream, const QString &text);

} // namespace App
