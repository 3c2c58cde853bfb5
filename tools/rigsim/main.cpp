// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// rigsim: a stand-in for the rig-control program. Listens on 127.0.0.1, prints every
// command it receives with the time it arrived, and answers each as the program would; with
// --audio, also writes what the receiver it tunes hears from chirp sounders.

#include "audiowriter.h"
#include "rigpeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <variant>
#include <vector>

namespace {

// More would leave each sounder faint and the writer short of time.
constexpr qsizetype MaxSounders = 64;
constexpr qsizetype MaxCarriers = 16;

void say(const QString &text)
{
    std::printf("%s %s\n",
                qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                qPrintable(text));
    std::fflush(stdout);
}

// A number an option gives, or its default; nothing outside low to high.
std::optional<double> optionNumber(const QCommandLineParser &parser,
                                   const QCommandLineOption &option,
                                   double fallback,
                                   double low,
                                   double high)
{
    if (!parser.isSet(option))
        return fallback;
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

// An option's numbers written A:B[:C]: exactly count of them, each from its low to its high.
std::optional<QList<double>> optionNumbers(const QCommandLineParser &parser,
                                           const QCommandLineOption &option,
                                           const QList<std::pair<double, double>> &ranges)
{
    const QStringList parts = parser.value(option).split(u':');
    if (parts.size() != ranges.size())
        return std::nullopt;
    QList<double> values;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const double value = parts[i].toDouble(&ok);
        if (!ok || !(value >= ranges[i].first && value <= ranges[i].second))
            return std::nullopt;
        values.append(value);
    }
    return values;
}

// The options that shape the sounders, the sky and the receiver's noise.
struct SkyOptions
{
    QCommandLineOption audio{QStringLiteral("audio"),
                             QStringLiteral("Also write what a USB receiver tuned by the commands "
                                            "hears from chirp sounders, as raw s16le (48 kHz "
                                            "mono unless --audio-rate and --iq say otherwise), "
                                            "in real time (a FIFO or a file)."),
                             QStringLiteral("file")};
    QCommandLineOption audioRate{QStringLiteral("audio-rate"),
                                 QStringLiteral("The audio's sample rate: 48000, 96000 or 192000 "
                                                "(default: 48000)."),
                                 QStringLiteral("Hz")};
    QCommandLineOption iq{QStringLiteral("iq"),
                          QStringLiteral("Write what a software radio gives instead: stereo I/Q "
                                         "centred on the dial, I left and Q right, up to 0.45 "
                                         "of the rate each side, the noise as dense per Hz as "
                                         "the audio's.")};
    QCommandLineOption iqSwap{QStringLiteral("iq-swap"),
                              QStringLiteral("With --iq: I and Q swapped, as a miswired "
                                             "receiver gives them (every offset mirrored).")};
    QCommandLineOption iqSilentQ{QStringLiteral("iq-silent-q"),
                                 QStringLiteral("With --iq: the Q channel silent.")};
    QCommandLineOption passband{QStringLiteral("passband"),
                                QStringLiteral("A wide filter for real audio, its edges at half "
                                               "amplitude, up to 0.45 of the rate, as in "
                                               "300:20000 (instead of --filter)."),
                                QStringLiteral("Hz:Hz")};
    QCommandLineOption sounder{
        QStringLiteral("sounder"),
        QStringLiteral("A sounder to hear: its period and when its sweep starts at 0 Hz in it "
                       "(s), and its rate (kHz/s, default: 100), as in 450:17.05:125. Repeat "
                       "it for more (up to %1); without it, one sounder as --period, "
                       "--chirptime and --rate say.")
            .arg(MaxSounders),
        QStringLiteral("period:chirptime[:rate]")};
    QCommandLineOption period{QStringLiteral("period"),
                              QStringLiteral("The one sounder's period (default: 300)."),
                              QStringLiteral("s")};
    QCommandLineOption chirptime{QStringLiteral("chirptime"),
                                 QStringLiteral("When its sweep starts at 0 Hz, from the "
                                                "period's start (default: 78)."),
                                 QStringLiteral("s")};
    QCommandLineOption rate{QStringLiteral("rate"),
                            QStringLiteral("How fast its sweep rises (default: 100)."),
                            QStringLiteral("kHz/s")};
    QCommandLineOption local{QStringLiteral("local"),
                             QStringLiteral("Count periods from local midnight, not UTC's.")};
    QCommandLineOption pathKm{QStringLiteral("path-km"),
                              QStringLiteral("The path's length on the ground (default: 1500)."),
                              QStringLiteral("km")};
    QCommandLineOption f2{QStringLiteral("f2"),
                          QStringLiteral("The F2 layer: its critical frequency (MHz), the height "
                                         "of its peak and its half-thickness (km) (default: "
                                         "10:300:100)."),
                          QStringLiteral("MHz:km:km")};
    QCommandLineOption e{QStringLiteral("e"),
                         QStringLiteral("The E layer, as --f2 (default: 3:110:20); 0: none."),
                         QStringLiteral("MHz:km:km")};
    QCommandLineOption levels{QStringLiteral("levels"),
                              QStringLiteral("Each mode's level over --snr's: one hop off E, one "
                                             "and two hops off F2, the X trace; a number or "
                                             "\"off\" (default: -3:0:-6:-3)."),
                              QStringLiteral("E:F2:2F2:X")};
    QCommandLineOption xOffset{QStringLiteral("x-offset"),
                               QStringLiteral("How far the X trace lies above the F2 one "
                                              "(default: 0.7)."),
                               QStringLiteral("MHz")};
    QCommandLineOption gaps{QStringLiteral("gaps"),
                            QStringLiteral("Frequencies the sounder does not transmit on, as in "
                                           "4.0-4.5,10.0-10.2 (default: none)."),
                            QStringLiteral("MHz-MHz,...")};
    QCommandLineOption f2Day{QStringLiteral("f2-day"),
                             QStringLiteral("F2's critical frequency follows the day, from NIGHT "
                                            "at midnight UTC to DAY at noon (default: --f2's, "
                                            "all day)."),
                             QStringLiteral("MHz:MHz")};
    QCommandLineOption dayMinutes{QStringLiteral("day-minutes"),
                                  QStringLiteral("With --f2-day: a day lasts this long, its "
                                                 "midnights every so many minutes from UTC "
                                                 "midnight (default: 1440)."),
                                  QStringLiteral("minutes")};
    QCommandLineOption truth{QStringLiteral("truth"),
                             QStringLiteral("Also write, as each sweep starts, the echoes at each "
                                            "100 kHz step and each mode's MOF, as CSV."),
                             QStringLiteral("file")};
    QCommandLineOption luf{QStringLiteral("luf"),
                           QStringLiteral("Echoes fade below this frequency (default: 3)."),
                           QStringLiteral("MHz")};
    QCommandLineOption snr{QStringLiteral("snr"),
                           QStringLiteral("Each sounder's chirp over the noise in 300-2700 Hz "
                                          "(default: 10)."),
                           QStringLiteral("dB")};
    QCommandLineOption carrier{
        QStringLiteral("carrier"),
        QStringLiteral("A steady carrier: its level over the noise in 300-2700 Hz (dB), its "
                       "audio frequency (Hz) and the dials that hear it: \"broadcast\" (the "
                       "broadcast bands) or MHz and MHz ranges, as in 7.0,9.4-9.9 (default: "
                       "every dial). Repeat it for more (up to %1).")
            .arg(MaxCarriers),
        QStringLiteral("dB:Hz[:dials]")};
    QCommandLineOption crashes{QStringLiteral("crashes"),
                               QStringLiteral("Static crashes at random times: how many a "
                                              "second on average, how loud they start over "
                                              "the noise in 300-2700 Hz (dB), and how long "
                                              "each takes to fall 40 dB (ms), as in 2:30:3."),
                               QStringLiteral("per-s:dB:ms")};
    QCommandLineOption agc{QStringLiteral("agc"),
                           QStringLiteral("The receiver's AGC, its attack and decay time "
                                          "constants, as in 1:250; it holds audio over 20 dB "
                                          "above the noise at -12 dBFS (default: off)."),
                           QStringLiteral("ms:ms")};
    QCommandLineOption filter{QStringLiteral("filter"),
                              QStringLiteral("The receiver's filter, its edges at half "
                                             "amplitude (default: 300:2700)."),
                              QStringLiteral("Hz:Hz")};
    QCommandLineOption catLatency{QStringLiteral("cat-latency"),
                                  QStringLiteral("A frequency command retunes the receiver "
                                                 "this long after it arrives (default: 0)."),
                                  QStringLiteral("ms")};
    QCommandLineOption retuneMute{QStringLiteral("retune-mute"),
                                  QStringLiteral("The receiver's audio is silent this long "
                                                 "after each retune (default: 0)."),
                                  QStringLiteral("ms")};
    QCommandLineOption sideband{QStringLiteral("sideband"),
                                QStringLiteral("The sideband the receiver hears at first: usb "
                                               "or lsb (default: usb)."),
                                QStringLiteral("usb|lsb")};

    QList<QCommandLineOption> all() const
    {
        return {audio,     audioRate, iq,         iqSwap,     iqSilentQ, passband, sounder, period,
                chirptime, rate,      local,      pathKm,     f2,        e,        levels,  xOffset,
                gaps,      f2Day,     dayMinutes, truth,      luf,       snr,      carrier, crashes,
                agc,       filter,    catLatency, retuneMute, sideband};
    }
};

// The audio's model as the options ask, and the line that says what it simulates.
struct SkySetup
{
    std::vector<Sky::Sounder> sounders;
    Sky::Ionosphere sky;
    double snrDb = 10;
    Sky::Receiver receiver;
    QString about;
};

// The receiver's filter, sideband, AGC, retunes, carriers and crashes as the options ask;
// what is wrong with an option, or nothing.
QString readReceiverOptions(const QCommandLineParser &parser,
                            const SkyOptions &options,
                            Sky::Receiver &receiver)
{
    if (parser.isSet(options.audioRate)) {
        bool ok = false;
        receiver.rateHz = parser.value(options.audioRate).toInt(&ok);
        if (!ok
            || std::find(Sky::SampleRates.begin(), Sky::SampleRates.end(), receiver.rateHz)
                   == Sky::SampleRates.end())
            return QStringLiteral("--audio-rate takes 48000, 96000 or 192000");
    }
    receiver.iq = parser.isSet(options.iq);
    receiver.iqSwapped = parser.isSet(options.iqSwap);
    receiver.iqSilentQ = parser.isSet(options.iqSilentQ);
    if (!receiver.iq && (receiver.iqSwapped || receiver.iqSilentQ))
        return QStringLiteral("--iq-swap and --iq-silent-q are for --iq");
    if (receiver.iq && (parser.isSet(options.filter) || parser.isSet(options.passband)))
        return QStringLiteral("--filter and --passband shape real audio, not --iq");
    if (parser.isSet(options.filter) && parser.isSet(options.passband))
        return QStringLiteral("--filter and --passband both set the receiver's filter; give one");
    if (parser.isSet(options.filter)) {
        const auto edges = optionNumbers(parser, options.filter, {{100, 5800}, {300, 6000}});
        if (!edges || (*edges)[1] - (*edges)[0] < 200)
            return QStringLiteral("--filter takes its low and high edge in Hz, as in 300:2700: "
                                  "from 100 to 6000 Hz, at least 200 Hz apart");
        receiver.lowHz = (*edges)[0];
        receiver.highHz = (*edges)[1];
    }
    if (parser.isSet(options.passband)) {
        const double topHz = Sky::IqBandShare * receiver.rateHz;
        const auto edges = optionNumbers(parser, options.passband, {{100, topHz}, {300, topHz}});
        if (!edges || (*edges)[1] - (*edges)[0] < 200)
            return QStringLiteral("--passband takes its low and high edge in Hz, as in "
                                  "300:20000: from 100 Hz to 0.45 of --audio-rate (%1 Hz), at "
                                  "least 200 Hz apart")
                .arg(topHz);
        receiver.lowHz = (*edges)[0];
        receiver.highHz = (*edges)[1];
    }
    const QString sideband = parser.value(options.sideband).toLower();
    if (sideband == QStringLiteral("lsb"))
        receiver.sideband = Sky::Sideband::Lower;
    else if (parser.isSet(options.sideband) && sideband != QStringLiteral("usb"))
        return QStringLiteral("--sideband takes usb or lsb");
    if (parser.isSet(options.agc)) {
        const auto times = optionNumbers(parser, options.agc, {{0.01, 10'000}, {0.01, 100'000}});
        if (!times)
            return QStringLiteral("--agc takes its attack and decay in ms, as in 1:250: from "
                                  "0.01 to 10000 and 100000 ms");
        receiver.agc = Sky::Agc{(*times)[0] / 1e3, (*times)[1] / 1e3};
    }
    const auto latency = optionNumber(parser, options.catLatency, 0, 0, 10'000);
    const auto mute = optionNumber(parser, options.retuneMute, 0, 0, 10'000);
    if (!latency || !mute)
        return QStringLiteral("--cat-latency and --retune-mute take ms from 0 to 10000");
    receiver.latencyS = *latency / 1e3;
    receiver.muteS = *mute / 1e3;
    if (parser.isSet(options.crashes)) {
        const auto crashes
            = optionNumbers(parser, options.crashes, {{0, 1000}, {-50, 100}, {0.05, 100}});
        if (!crashes)
            return QStringLiteral("--crashes takes how many a second, dB and ms, as in 2:30:3: "
                                  "0 to 1000 a second, -50 to 100 dB, 0.05 to 100 ms");
        receiver.crashes = {(*crashes)[0], (*crashes)[1], (*crashes)[2] / 1e3};
    }
    const QStringList carriers = parser.values(options.carrier);
    if (carriers.size() > MaxCarriers)
        return QStringLiteral("--carrier is given at most %1 times").arg(MaxCarriers);
    for (const QString &text : carriers) {
        const auto carrier = Sky::carrierFromText(text);
        if (!carrier)
            return QStringLiteral("--carrier takes dB:Hz[:dials]: -50 to 100 dB, up to 6000 Hz, "
                                  "dials \"broadcast\" or MHz and MHz ranges such as "
                                  "7.0,9.4-9.9 (not \"%1\")")
                .arg(text);
        receiver.carriers.push_back(*carrier);
    }
    return {};
}

// A layer written FO:HM:YM (MHz, km, km) within the ranges given, its base above 60 km.
std::optional<Sky::Layer> layerOption(const QCommandLineParser &parser,
                                      const QCommandLineOption &option,
                                      const QList<std::pair<double, double>> &ranges)
{
    const auto numbers = optionNumbers(parser, option, ranges);
    if (!numbers || (*numbers)[1] - (*numbers)[2] < 60)
        return std::nullopt;
    return Sky::Layer{(*numbers)[0] * 1e6, (*numbers)[1], (*numbers)[2]};
}

// The ionosphere as the options ask; what is wrong with an option, or nothing.
QString readIonosphereOptions(const QCommandLineParser &parser,
                              const SkyOptions &options,
                              Sky::Ionosphere &sky)
{
    const auto pathKm = optionNumber(parser, options.pathKm, sky.pathKm, 10, 10'000);
    if (!pathKm)
        return QStringLiteral("--path-km takes km from 10 to 10000");
    sky.pathKm = *pathKm;
    if (parser.isSet(options.f2)) {
        const auto f2 = layerOption(parser, options.f2, {{0.5, 40}, {150, 1000}, {10, 400}});
        if (!f2)
            return QStringLiteral("--f2 takes MHz:km:km, as in 10:300:100: 0.5 to 40 MHz, a "
                                  "peak at 150 to 1000 km, 10 to 400 km thick each side, its "
                                  "base at least 60 km up");
        sky.f2 = *f2;
    }
    if (parser.value(options.e) == QStringLiteral("0")) {
        sky.e.reset();
    } else if (parser.isSet(options.e)) {
        const auto e = layerOption(parser, options.e, {{0.2, 10}, {70, 300}, {2, 100}});
        if (!e)
            return QStringLiteral("--e takes 0 or MHz:km:km, as in 3:110:20: 0.2 to 10 MHz, a "
                                  "peak at 70 to 300 km, 2 to 100 km thick each side, its base "
                                  "at least 60 km up");
        sky.e = *e;
    }
    if (sky.e && sky.e->hmKm + sky.e->ymKm > sky.f2.hmKm - sky.f2.ymKm)
        return QStringLiteral("--e's layer ends above the F2 layer's base; lower it or give 0");
    if (parser.isSet(options.levels)) {
        const QStringList parts = parser.value(options.levels).split(u':');
        bool ok = parts.size() == qsizetype(Sky::ModeCount);
        for (qsizetype i = 0; ok && i < parts.size(); ++i) {
            auto &level = sky.levelsDb[size_t(i)];
            level.reset();
            if (parts[i] == QStringLiteral("off"))
                continue;
            level = parts[i].toDouble(&ok);
            ok = ok && *level >= -100 && *level <= 100;
        }
        if (!ok)
            return QStringLiteral("--levels takes four dB from -100 to 100 or \"off\", for E, "
                                  "F2, 2F2 and X, as in -3:0:-6:off");
    }
    const auto xOffset = optionNumber(parser, options.xOffset, sky.xOffsetHz / 1e6, 0, 5);
    const auto luf = optionNumber(parser, options.luf, sky.lufHz / 1e6, 0, 100);
    if (!xOffset || !luf)
        return QStringLiteral("--x-offset takes MHz from 0 to 5, --luf from 0 to 100");
    sky.xOffsetHz = *xOffset * 1e6;
    sky.lufHz = *luf * 1e6;
    if (parser.isSet(options.gaps)) {
        const auto gaps = Sky::gapsFromText(parser.value(options.gaps));
        if (!gaps)
            return QStringLiteral("--gaps takes MHz ranges joined by commas, as in "
                                  "4.0-4.5,10.0-10.2, each low below high, up to 100 MHz");
        sky.gapsHz = *gaps;
    }
    if (parser.isSet(options.f2Day)) {
        const auto day = optionNumbers(parser, options.f2Day, {{0.5, 40}, {0.5, 40}});
        const auto minutes = optionNumber(parser, options.dayMinutes, 1440, 1, 1440);
        if (!day)
            return QStringLiteral("--f2-day takes F2's critical frequency at night and by day, "
                                  "as in 5:10: 0.5 to 40 MHz");
        if (!minutes)
            return QStringLiteral("--day-minutes takes minutes from 1 to 1440");
        sky.f2Day = Sky::DayCourse{(*day)[0] * 1e6, (*day)[1] * 1e6, *minutes};
    } else if (parser.isSet(options.dayMinutes)) {
        return QStringLiteral("--day-minutes is for --f2-day");
    }
    return {};
}

// The sky in words: the path, the layers, the modes and their MUFs now, the gaps.
QString skyText(const Sky::Ionosphere &sky)
{
    const auto layerText = [](const Sky::Layer &layer) {
        return QStringLiteral("%1 MHz at %2 km (%3 km each side)")
            .arg(layer.foHz / 1e6)
            .arg(layer.hmKm)
            .arg(layer.ymKm);
    };
    QString text = QStringLiteral("%1 km: F2 ").arg(sky.pathKm) + layerText(sky.f2);
    if (sky.f2Day)
        text += QStringLiteral(", its critical frequency from %1 MHz at midnight to %2 MHz at "
                               "noon in a day of %3 minutes")
                    .arg(sky.f2Day->nightHz / 1e6)
                    .arg(sky.f2Day->dayHz / 1e6)
                    .arg(sky.f2Day->dayMinutes);
    text += sky.e ? QStringLiteral(", E ") + layerText(*sky.e) : QStringLiteral(", no E");
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    QStringList modes;
    for (size_t m = 0; m < Sky::ModeCount; ++m) {
        const auto mode = Sky::Mode(m);
        if (!sky.levelsDb[m])
            continue;
        const auto muf = Sky::mufHz(sky, mode, nowNs);
        modes
            += QStringLiteral("%1 %2 dB%3%4")
                   .arg(Sky::modeName(mode))
                   .arg(*sky.levelsDb[m])
                   .arg(mode == Sky::Mode::X ? QStringLiteral(" %1 MHz up").arg(sky.xOffsetHz / 1e6)
                                             : QString())
                   .arg(muf ? QStringLiteral(" (MUF now %1 MHz)").arg(*muf / 1e6, 0, 'f', 1)
                            : QStringLiteral(" (not heard now)"));
    }
    text += QStringLiteral("; ")
            + (modes.isEmpty() ? QStringLiteral("no echoes") : modes.join(u", "));
    QStringList gaps;
    for (const auto &[low, high] : sky.gapsHz)
        gaps += QStringLiteral("%1-%2").arg(low / 1e6).arg(high / 1e6);
    if (!gaps.isEmpty())
        text += QStringLiteral("; silent in ") + gaps.join(u", ") + QStringLiteral(" MHz");
    return text;
}

// The setup, or what is wrong with an option.
std::variant<SkySetup, QString> readSkyOptions(const QCommandLineParser &parser,
                                               const SkyOptions &options)
{
    SkySetup setup;
    const QStringList sounderTexts = parser.values(options.sounder);
    if (sounderTexts.isEmpty()) {
        const auto period = optionNumber(parser, options.period, 300, 1, Sky::MaxPeriodS);
        if (!period)
            return QStringLiteral("--period takes seconds from 1 to %1").arg(Sky::MaxPeriodS);
        const auto rate
            = optionNumber(parser, options.rate, 100, Sky::MinRateKHzPerS, Sky::MaxRateKHzPerS);
        if (!rate)
            return QStringLiteral("--rate takes kHz per second from %1 to %2")
                .arg(Sky::MinRateKHzPerS)
                .arg(Sky::MaxRateKHzPerS);
        const auto chirptime = optionNumber(parser, options.chirptime, 78, 0, *period);
        const auto sounder
            = chirptime ? Sky::makeSounder(*period, *chirptime, *rate) : std::nullopt;
        if (!sounder)
            return QStringLiteral("--chirptime takes seconds from 0 to below the period");
        setup.sounders.push_back(*sounder);
    } else if (parser.isSet(options.period) || parser.isSet(options.chirptime)
               || parser.isSet(options.rate)) {
        return QStringLiteral("--period, --chirptime and --rate are for one sounder without "
                              "--sounder; give each --sounder as period:chirptime:rate");
    } else if (sounderTexts.size() > MaxSounders) {
        return QStringLiteral("--sounder is given at most %1 times").arg(MaxSounders);
    }
    for (const QString &text : sounderTexts) {
        const auto sounder = Sky::sounderFromText(text);
        if (!sounder)
            return QStringLiteral("--sounder takes period:chirptime[:rate]: a period of 1 to "
                                  "%1 s, a chirptime from 0 to below it and a rate of %2 to %3 "
                                  "kHz/s, decimals with \".\" (not \"%4\")")
                .arg(Sky::MaxPeriodS)
                .arg(Sky::MinRateKHzPerS)
                .arg(Sky::MaxRateKHzPerS)
                .arg(text);
        setup.sounders.push_back(*sounder);
    }
    const bool local = parser.isSet(options.local);
    QStringList heard;
    for (Sky::Sounder &sounder : setup.sounders) {
        sounder.local = local;
        heard += Sky::sounderText(sounder);
    }
    const QString skyError = readIonosphereOptions(parser, options, setup.sky);
    if (!skyError.isEmpty())
        return skyError;
    const auto snr = optionNumber(parser, options.snr, 10, -30, 200);
    if (!snr)
        return QStringLiteral("--snr takes dB from -30 to 200");
    setup.snrDb = *snr;
    const auto receiverError = readReceiverOptions(parser, options, setup.receiver);
    if (!receiverError.isEmpty())
        return receiverError;
    const Sky::Receiver &receiver = setup.receiver;
    QStringList impairments;
    for (const Sky::Carrier &carrier : receiver.carriers)
        impairments += QStringLiteral("a carrier at %1 Hz, %2 dB over the noise, at %3")
                           .arg(carrier.audioHz)
                           .arg(carrier.levelDb)
                           .arg(carrier.dialRangesHz.empty() ? QStringLiteral("every dial")
                                                             : QStringLiteral("some dials"));
    if (receiver.crashes.perS > 0)
        impairments += QStringLiteral("%1 crashes a second, %2 dB over the noise, %3 ms long")
                           .arg(receiver.crashes.perS)
                           .arg(receiver.crashes.levelDb)
                           .arg(receiver.crashes.lengthS * 1e3);
    if (receiver.agc)
        impairments += QStringLiteral("AGC attack %1 ms, decay %2 ms")
                           .arg(receiver.agc->attackS * 1e3)
                           .arg(receiver.agc->decayS * 1e3);
    if (receiver.iqSwapped)
        impairments += QStringLiteral("I and Q swapped");
    if (receiver.iqSilentQ)
        impairments += QStringLiteral("Q silent");
    if (receiver.latencyS > 0 || receiver.muteS > 0)
        impairments += QStringLiteral("retunes %1 ms after the command, then %2 ms muted")
                           .arg(receiver.latencyS * 1e3)
                           .arg(receiver.muteS * 1e3);
    const double topHz = Sky::IqBandShare * receiver.rateHz;
    const QString about = QStringLiteral(
        "rigsim audio: %6 receiver (%7 to %8 Hz) tuned by the commands hears %1 (%2; periods "
        "from %3 midnight) over %4, fading below %5 MHz, SNR %9 dB each; noise only until the "
        "first frequency command; ");
    setup.about = about
                      .arg(heard.size() == 1 ? QStringLiteral("a sounder")
                                             : QStringLiteral("%1 sounders").arg(heard.size()),
                           heard.join(QStringLiteral(", ")),
                           local ? QStringLiteral("local") : QStringLiteral("UTC"),
                           skyText(setup.sky))
                      .arg(setup.sky.lufHz / 1e6)
                      .arg(receiver.iq                                 ? QStringLiteral("an I/Q")
                           : receiver.sideband == Sky::Sideband::Lower ? QStringLiteral("an LSB")
                                                                       : QStringLiteral("a USB"))
                      .arg(receiver.iq ? -topHz : receiver.lowHz)
                      .arg(receiver.iq ? topHz : receiver.highHz)
                      .arg(*snr)
                  + (impairments.isEmpty()
                         ? QString()
                         : QStringLiteral("with ") + impairments.join(u", ") + QStringLiteral("; "))
                  + QStringLiteral("%1 kHz s16le %2 to ")
                        .arg(receiver.rateHz / 1000)
                        .arg(receiver.iq ? QStringLiteral("stereo I/Q") : QStringLiteral("mono"))
                  + parser.value(options.audio);
    return setup;
}

// A sweep's truth as CSV rows (each with its line end): the echoes at each step, then
// each mode's MOF (empty when no step hears it).
QByteArray
truthRows(const Sky::Ionosphere &sky, const Sky::Sounder &sounder, int index, qint64 startNs)
{
    const Sky::SweepTruth truth = Sky::sweepTruth(sky, sounder, startNs);
    const QByteArray sweep = QDateTime::fromMSecsSinceEpoch(startNs / 1'000'000, Qt::UTC)
                                 .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))
                                 .toUtf8()
                             + ',' + QByteArray::number(index) + ',';
    QByteArray rows;
    for (const Sky::StepTruth &step : truth.steps)
        for (const Sky::Echo &echo : step.echoes)
            rows += sweep + "echo," + Sky::modeName(echo.mode).toUtf8() + ','
                    + QByteArray::number(qint64(step.dialHz)) + ','
                    + QByteArray::number(echo.delayS * 1e3, 'f', 4) + ','
                    + QByteArray::number(20 * std::log10(echo.amplitude), 'f', 2) + '\n';
    for (size_t m = 0; m < Sky::ModeCount; ++m)
        if (sky.levelsDb[m])
            rows += sweep + "mof," + Sky::modeName(Sky::Mode(m)).toUtf8() + ','
                    + (truth.mofHz[m] ? QByteArray::number(qint64(*truth.mofHz[m])) : QByteArray())
                    + ",,\n";
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rigsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Listens like a rig-control program and prints what it is told."));
    parser.addHelpOption();
    const QCommandLineOption rigOption(
        QStringLiteral("rig"),
        QStringLiteral("Protocol: %1 (default: %2).")
            .arg(Rig::protocolOptions(), Rig::protocolOption(Rig::Protocol::HrdText)),
        QStringLiteral("protocol"),
        Rig::protocolOption(Rig::Protocol::HrdText));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port to listen on (default: the protocol's; 0: any free port)."),
        QStringLiteral("port"));
    const QCommandLineOption replyOption(
        QStringLiteral("reply"),
        QStringLiteral("Reply to each frequency command (default: the program's own)."),
        QStringLiteral("text"));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
                                          QStringLiteral("Do not reply."));
    const QCommandLineOption refuseOption(QStringLiteral("refuse"),
                                          QStringLiteral("Refuse every frequency command."));
    const QCommandLineOption vfoModeOption(QStringLiteral("vfo-mode"),
                                           QStringLiteral("As rigctld -o: commands name the VFO."));
    parser.addOptions(
        {rigOption, portOption, replyOption, silentOption, refuseOption, vfoModeOption});
    const SkyOptions skyOptions;
    parser.addOptions(skyOptions.all());
    parser.process(app);

    const auto dialect = Rig::protocolFromOption(parser.value(rigOption));
    if (!dialect) {
        std::fprintf(stderr, "rigsim: --rig takes %s\n", qPrintable(Rig::protocolOptions()));
        return 2;
    }
    bool ok = true;
    const uint port = parser.isSet(portOption) ? parser.value(portOption).toUInt(&ok)
                                               : Rig::defaultPort(*dialect);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "rigsim: --port takes a number from 0 to 65535\n");
        return 2;
    }

    const auto skySetup = readSkyOptions(parser, skyOptions);
    if (const auto *error = std::get_if<QString>(&skySetup)) {
        std::fprintf(stderr, "rigsim: %s\n", qPrintable(*error));
        return 2;
    }
    const SkySetup &sky = std::get<SkySetup>(skySetup);

    const Peer::Behaviour behaviour = parser.isSet(silentOption)   ? Peer::Behaviour::Silent
                                      : parser.isSet(refuseOption) ? Peer::Behaviour::Refuse
                                                                   : Peer::Behaviour::Answer;
    const bool vfoMode = parser.isSet(vfoModeOption);
    Peer::RigPeer peer(*dialect, behaviour);
    peer.setAnswer(parser.value(replyOption).toUtf8());
    peer.setVfoMode(vfoMode);
    if (!peer.listen(quint16(port))) {
        std::fprintf(stderr,
                     "rigsim: cannot listen on 127.0.0.1:%u: %s\n",
                     port,
                     qPrintable(peer.errorString()));
        return 1;
    }
    std::printf("rigsim listening on 127.0.0.1:%u as %s\n",
                unsigned(peer.port()),
                qPrintable(Rig::protocolOption(*dialect)));
    std::fflush(stdout);

    std::unique_ptr<Sky::AudioWriter> audio;
    if (parser.isSet(skyOptions.audio)) {
#ifdef SIGPIPE
        // A FIFO whose reader has gone fails the write instead of ending the program.
        std::signal(SIGPIPE, SIG_IGN);
#endif
        std::printf("%s\n", qPrintable(sky.about));
        std::fflush(stdout);
        audio = std::make_unique<Sky::AudioWriter>(
            parser.value(skyOptions.audio),
            Sky::SkyAudio(sky.sounders, sky.sky, sky.snrDb, 1, sky.receiver),
            &say);
    }

    // The truth of each sweep as it starts, the one under way first.
    QFile truthFile(parser.value(skyOptions.truth));
    QTimer truthTimer;
    std::vector<qint64> truthWritten(sky.sounders.size(), -1);
    if (parser.isSet(skyOptions.truth)) {
        if (!truthFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr,
                         "rigsim: cannot write %s: %s\n",
                         qPrintable(truthFile.fileName()),
                         qPrintable(truthFile.errorString()));
            return 1;
        }
        truthFile.write("sweep_utc,sounder,kind,mode,frequency_hz,delay_ms,level_db\n");
        const auto writeTruth = [&truthFile, &truthWritten, &sky] {
            const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
            for (size_t i = 0; i < sky.sounders.size(); ++i) {
                const qint64 startNs = Sky::chirpStartNs(nowNs, sky.sounders[i]);
                if (startNs == truthWritten[i])
                    continue;
                truthWritten[i] = startNs;
                truthFile.write(truthRows(sky.sky, sky.sounders[i], int(i) + 1, startNs));
            }
            truthFile.flush();
        };
        writeTruth();
        QObject::connect(&truthTimer, &QTimer::timeout, &truthFile, writeTruth);
        truthTimer.start(500);
    }

    QObject::connect(&peer, &Peer::RigPeer::connectionAccepted, &peer, [](const QString &from) {
        say(QStringLiteral("connected ") + from);
    });
    QObject::connect(
        &peer, &Peer::RigPeer::connectionEnded, &peer, [] { say(QStringLiteral("disconnected")); });
    // The dial is the last frequency the program would have set; a refused one sets none.
    const bool tunes = behaviour != Peer::Behaviour::Refuse;
    QObject::connect(&peer,
                     &Peer::RigPeer::commandTaken,
                     &peer,
                     [&audio, dialect = *dialect, tunes, vfoMode](const Peer::Command &command) {
                         say(command.text);
                         if (!audio || !tunes)
                             return;
                         if (const auto hz = Peer::frequencyHz(dialect, command.text, vfoMode))
                             audio->setDial(*hz);
                     });
    // The receiver hears the sideband the program sets (other modes are not modelled).
    if (sky.receiver.sideband == Sky::Sideband::Lower)
        peer.setMode(QStringLiteral("LSB"));
    QObject::connect(&peer, &Peer::RigPeer::modeChanged, &peer, [&audio](const QString &mode) {
        if (!audio)
            return;
        if (mode.startsWith(QStringLiteral("LSB")))
            audio->setSideband(Sky::Sideband::Lower);
        else if (mode.startsWith(QStringLiteral("USB")))
            audio->setSideband(Sky::Sideband::Upper);
    });
    QObject::connect(&peer, &Peer::RigPeer::dropped, &peer, [](const QString &why) {
        say(QStringLiteral("closing the connection: ") + why);
    });
    return QCoreApplication::exec();
}
