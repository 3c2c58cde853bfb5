// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// ComputeStep over every tick of a day (864,000 day times) with the default settings.

#include "chirpschedule.h"

#include <benchmark/benchmark.h>

namespace {

constexpr qint32 TicksPerDay = 864'000;

void ComputeStepOverADay(benchmark::State &state)
{
    const Tracking::StepInputs inputs{QStringLiteral("300"), QStringLiteral("78"), 0};
    const QLocale locale;
    for (auto _ : state) {
        for (qint32 tick = 0; tick < TicksPerDay; ++tick) {
            auto outcome = Tracking::ComputeStep(600 + tick * 100, inputs, locale);
            benchmark::DoNotOptimize(outcome);
        }
    }
    state.SetItemsProcessed(state.iterations() * TicksPerDay);
    state.counters["ns_per_call"]
        = benchmark::Counter(double(state.iterations()) * TicksPerDay,
                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(ComputeStepOverADay)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
