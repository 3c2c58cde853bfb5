// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keptsettings.h"

#include <QSettings>
#include <QStandardPaths>

#include <cmath>

namespace Window {

namespace {

const auto InputKey = QStringLiteral("listening/audioInput");
const auto AudioDelayKey = QStringLiteral("listening/audioDelayMs");
const auto DelayFromKey = QStringLiteral("listening/delayFromMs");
const auto DelayToKey = QStringLiteral("listening/delayToMs");
const auto FolderKey = QStringLiteral("listening/ionogramFolder");

// A kept number from low to high, or nothing.
std::optional<double>
keptNumber(const QSettings &settings, const QString &key, double low, double high)
{
    bool ok = false;
    const double value = settings.value(key).toString().toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

} // namespace

QString keptSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
           + QStringLiteral("/zarvotel.ini");
}

Listen::ListenOptions readKeptListening(const QString &path)
{
    Listen::ListenOptions options;
    const QSettings settings(path, QSettings::IniFormat);
    options.inputText = settings.value(InputKey).toString().trimmed();
    // The same ranges as the command line's --audio-delay and --delay-range.
    options.audioDelayMs = keptNumber(settings, AudioDelayKey, 0, 1000);
    const auto from = keptNumber(settings, DelayFromKey, -50, 300);
    const auto to = keptNumber(settings, DelayToKey, -50, 300);
    if (from && to && *to - *from >= 5) {
        options.delayFromMs = *from;
        options.delayToMs = *to;
    }
    options.folder = settings.value(FolderKey).toString().trimmed();
    return options;
}

void keepListening(const QString &path, const Listen::ListenOptions &options)
{
    QSettings settings(path, QSettings::IniFormat);
    const auto keep = [&settings](const QString &key, const QVariant &value, bool none) {
        if (none)
            settings.remove(key);
        else
            settings.setValue(key, value);
    };
    keep(InputKey, options.inputText, options.inputText.isEmpty());
    keep(AudioDelayKey, options.audioDelayMs.value_or(0), !options.audioDelayMs);
    keep(DelayFromKey, options.delayFromMs, false);
    keep(DelayToKey, options.delayToMs, false);
    keep(FolderKey,
         options.folder,
         options.folder.isEmpty() || options.folder == Listen::defaultIonogramFolder());
    settings.sync();
}

} // namespace Window
