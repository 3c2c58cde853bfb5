// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "systemclock.h"

#include <QStandardPaths>

#if defined(Q_OS_LINUX)
#include <sys/timex.h>
#endif

namespace App {
namespace {

class SystemClockSources final : public Window::ClockSources
{
public:
    std::optional<Tracking::KernelClock> kernel() const override
    {
#if defined(Q_OS_LINUX)
        timex tx{}; // modes 0: read only, no privileges needed
        const int state = ::ntp_adjtime(&tx);
        if (state < 0)
            return std::nullopt;
        return Tracking::KernelClock{(tx.status & STA_UNSYNC) != 0 || state == TIME_ERROR,
                                     qint64(tx.maxerror)};
#else
        return std::nullopt;
#endif
    }

    QString chronyc() const override
    {
        return QStandardPaths::findExecutable(QStringLiteral("chronyc"));
    }
};

} // namespace

std::unique_ptr<Window::ClockSources> systemClockSources()
{
    return std::make_unique<SystemClockSources>();
}

} // namespace App
