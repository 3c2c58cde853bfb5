// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// rigsim: a stand-in for the rig-control program. Listens on 127.0.0.1, prints every
// command it receives with the time it arrived, and answers each as the program would; with
// --audio, also writes what the receiver it tunes hears from chirp sounders.

#include "audiowriter.h"
#include "rigpeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTime>

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
                                            "hears from chirp sounders, as raw 48 kHz mono "
                                            "s16le, in real time (a FIFO or a file)."),
                             QStringLiteral("file")};
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
    QCommandLineOption muf{QStringLiteral("muf"),
                           QStringLiteral("One hop's maximum usable frequency (default: 14)."),
                           QStringLiteral("MHz")};
    QCommandLineOption delay{QStringLiteral("delay"),
                             QStringLiteral("One hop's delay well below its MUF (default: 4)."),
                             QStringLiteral("ms")};
    QCommandLineOption twoHopMuf{QStringLiteral("two-hop-muf"),
                                 QStringLiteral("Two hops' MUF (default: 10)."),
                                 QStringLiteral("MHz")};
    QCommandLineOption twoHopDb{QStringLiteral("two-hop-db"),
                                QStringLiteral("How much weaker two hops are than one "
                                               "(default: 6)."),
                                QStringLiteral("dB")};
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
        return {audio,
                sounder,
                period,
                chirptime,
                rate,
                local,
                muf,
                delay,
                twoHopMuf,
                twoHopDb,
                luf,
                snr,
                carrier,
                crashes,
                agc,
                filter,
                catLatency,
                retuneMute,
                sideband};
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
    if (parser.isSet(options.filter)) {
        const auto edges = optionNumbers(parser, options.filter, {{100, 5800}, {300, 6000}});
        if (!edges || (*edges)[1] - (*edges)[0] < 200)
            return QStringLiteral("--filter takes its low and high edge in Hz, as in 300:2700: "
                                  "from 100 to 6000 Hz, at least 200 Hz apart");
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
    const auto muf = optionNumber(parser, options.muf, 14, 0.1, 100);
    const auto twoHopMuf = optionNumber(parser, options.twoHopMuf, 10, 0.1, 100);
    const auto luf = optionNumber(parser, options.luf, 3, 0, 100);
    if (!muf || !twoHopMuf || !luf)
        return QStringLiteral("--muf, --two-hop-muf and --luf take MHz from 0.1 (0 for --luf) "
                              "to 100");
    const auto delay = optionNumber(parser, options.delay, 4, 0, 100);
    if (!delay)
        return QStringLiteral("--delay takes milliseconds from 0 to 100");
    const auto twoHopDb = optionNumber(parser, options.twoHopDb, 6, 0, 200);
    const auto snr = optionNumber(parser, options.snr, 10, -30, 200);
    if (!twoHopDb || !snr)
        return QStringLiteral("--two-hop-db takes dB from 0 to 200, --snr from -30 to 200");
    setup.sky = {*muf * 1e6, *delay / 1e3, *twoHopMuf * 1e6, *twoHopDb, *luf * 1e6};
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
    if (receiver.latencyS > 0 || receiver.muteS > 0)
        impairments += QStringLiteral("retunes %1 ms after the command, then %2 ms muted")
                           .arg(receiver.latencyS * 1e3)
                           .arg(receiver.muteS * 1e3);
    const QString about = QStringLiteral(
        "rigsim audio: %10 receiver (%11-%12 Hz) tuned by the commands hears %1 (%2; periods "
        "from %3 midnight) by one hop (%4 ms, MUF %5 MHz) and two hops (-%6 dB, MUF %7 MHz), "
        "fading below %8 MHz, SNR %9 dB each; noise only until the first frequency command; ");
    setup.about = about
                      .arg(heard.size() == 1 ? QStringLiteral("a sounder")
                                             : QStringLiteral("%1 sounders").arg(heard.size()),
                           heard.join(QStringLiteral(", ")),
                           local ? QStringLiteral("local") : QStringLiteral("UTC"))
                      .arg(*delay)
                      .arg(*muf)
                      .arg(*twoHopDb)
                      .arg(*twoHopMuf)
                      .arg(*luf)
                      .arg(*snr)
                      .arg(receiver.sideband == Sky::Sideband::Lower ? QStringLiteral("an LSB")
                                                                     : QStringLiteral("a USB"))
                      .arg(receiver.lowHz)
                      .arg(receiver.highHz)
                  + (impairments.isEmpty()
                         ? QString()
                         : QStringLiteral("with ") + impairments.join(u", ") + QStringLiteral("; "))
                  + QStringLiteral("48 kHz s16le mono to ") + parser.value(options.audio);
    return setup;
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
