// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "options.h"

#include "chirpschedule.h"
#include "sounder.h"

#include <QCommandLineParser>
#include <QDir>

namespace App {
namespace {

struct Parser
{
    QCommandLineParser parser;
    const QCommandLineOption rig{
        QStringLiteral("rig"),
        QStringLiteral("The rig-control program's protocol: %1; "
                       "the default is %2.")
            .arg(Rig::protocolOptions(true), Rig::protocolOption(Rig::Protocol::HrdText)),
        QStringLiteral("protocol"),
        Rig::protocolOption(Rig::Protocol::HrdText)};
    const QCommandLineOption period{QStringLiteral("period"),
                                    QStringLiteral("Period starts as S seconds."),
                                    QStringLiteral("S")};
    const QCommandLineOption chirptime{QStringLiteral("chirptime"),
                                       QStringLiteral("Chirptime starts as S seconds."),
                                       QStringLiteral("S")};
    const QCommandLineOption offset{QStringLiteral("offset"),
                                    QStringLiteral("Offset starts at UNITS of 100 ms (-10 to 10)."),
                                    QStringLiteral("UNITS")};
    const QCommandLineOption host{
        QStringLiteral("host"), QStringLiteral("Host starts as HOST."), QStringLiteral("HOST")};
    const QCommandLineOption port{QStringLiteral("port"),
                                  QStringLiteral("Port starts as PORT (1 to 65535)."),
                                  QStringLiteral("PORT")};
    const QCommandLineOption connect{QStringLiteral("connect"),
                                     QStringLiteral("Press Connect when the window is shown.")};
    const QCommandLineOption start{QStringLiteral("start"),
                                   QStringLiteral("Press Start when the window is shown; with "
                                                  "--connect, once connected.")};
    const QCommandLineOption reconnect{QStringLiteral("reconnect"),
                                       QStringLiteral("While the link is down, press Connect again "
                                                      "every SECONDS (1 to 3600)."),
                                       QStringLiteral("SECONDS")};
    const QCommandLineOption utc{QStringLiteral("utc"),
                                 QStringLiteral("Count periods from UTC midnight, as the sounders "
                                                "do, and show UTC time (default: local time).")};
    const QCommandLineOption listen{QStringLiteral("listen"),
                                    QStringLiteral("Listen to the receiver's audio and draw an "
                                                   "ionogram of every sweep.")};
    const QCommandLineOption audioInput{QStringLiteral("audio-input"),
                                        QStringLiteral("Listen on the audio input whose name "
                                                       "contains TEXT (default: the default "
                                                       "input)."),
                                        QStringLiteral("TEXT")};
    const QCommandLineOption audioInputs{QStringLiteral("audio-inputs"),
                                         QStringLiteral("List the audio inputs, each with its "
                                                        "rate and channels, and exit.")};
    const QCommandLineOption passband{QStringLiteral("passband"),
                                      QStringLiteral("The receiver's audio passband, LO to HI Hz "
                                                     "from the dial (default 300:2700; up to "
                                                     "half the input's rate; below the dial "
                                                     "negative with --iq)."),
                                      QStringLiteral("LO:HI")};
    const QCommandLineOption iq{QStringLiteral("iq"),
                                QStringLiteral("The input is I/Q centred on the dial (left I, "
                                               "right Q), at the input's own rate; the whole "
                                               "band is heard unless --passband says less.")};
    const QCommandLineOption iqSwap{QStringLiteral("iq-swap"),
                                    QStringLiteral("With --iq: the input gives Q left and I "
                                                   "right.")};
    const QCommandLineOption delayRange{QStringLiteral("delay-range"),
                                        QStringLiteral("Draw the delays from A to B ms after the "
                                                       "chirp's expected arrival (default 0:40)."),
                                        QStringLiteral("A:B")};
    const QCommandLineOption audioDelay{QStringLiteral("audio-delay"),
                                        QStringLiteral("The receiver's and sound card's own delay, "
                                                       "taken off every delay (0 to 1000 ms; "
                                                       "default 0). Once given, only the drawn "
                                                       "delays are searched."),
                                        QStringLiteral("MS")};
    const QCommandLineOption ionograms{
        QStringLiteral("ionograms"),
        QStringLiteral("Save each sweep as CSV and PNG in DIR "
                       "(default: %1).")
            .arg(QDir::toNativeSeparators(Listen::defaultIonogramFolder())),
        QStringLiteral("DIR")};
    const QCommandLineOption rate{
        QStringLiteral("rate"),
        QStringLiteral("The sounder sweeps KHZ kHz per second (1 to 1000; "
                       "default 100)."),
        QStringLiteral("KHZ")};
    const QCommandLineOption find{QStringLiteral("find"),
                                  QStringLiteral("Park the radio at HZ, listen, and report every "
                                                 "sounder whose chirp crosses it (with --period or "
                                                 "--rate, only those)."),
                                  QStringLiteral("HZ")};
    const QCommandLineOption findSeconds{QStringLiteral("find-seconds"),
                                         QStringLiteral("Find for S seconds (default: two of the "
                                                        "longest periods tried), then print the "
                                                        "sounders and exit."),
                                         QStringLiteral("S")};
    const QCommandLineOption checkClock{QStringLiteral("check-clock"),
                                        QStringLiteral("Say how well the clock is synchronised and "
                                                       "exit: 0 when within 50 ms, 1 otherwise.")};
    const QCommandLineOption scale{QStringLiteral("scale"),
                                   QStringLiteral("Read the sweep CSVs given after the options, "
                                                  "print the day summary's header and a row for "
                                                  "each (its MOFs), and exit: 0 when every file "
                                                  "could be read, 1 otherwise. --period, "
                                                  "--chirptime and --rate go in the rows.")};
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit.")};
    const QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit.")};

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Keeps a receiver tuned to a chirp sounder through a rig-control program."));
        parser.addOptions({rig,         period,   chirptime, offset,      host,       port,
                           connect,     start,    reconnect, utc,         listen,     audioInput,
                           audioInputs, passband, iq,        iqSwap,      delayRange, audioDelay,
                           ionograms,   rate,     find,      findSeconds, checkClock, scale,
                           help,        version});
    }
};

// A decimal number (with a point) from low to high, or nothing.
std::optional<double> decimalNumber(const QString &text, double low, double high)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        return std::nullopt;
    return value;
}

// A whole number from low to high, or nothing.
std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

std::variant<CommandLine, QString> parseCommandLine(const QStringList &arguments,
                                                    const QLocale &locale,
                                                    const Listen::ListenOptions &kept)
{
    Parser p;
    if (!p.parser.parse(arguments))
        return p.parser.errorText();
    const bool scale = p.parser.isSet(p.scale);
    if (scale && p.parser.positionalArguments().isEmpty())
        return QStringLiteral("--scale takes one or more sweep CSV files");
    if (!scale && !p.parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument \"%1\"")
            .arg(p.parser.positionalArguments().first());

    CommandLine line;
    line.help = p.parser.isSet(p.help);
    line.version = p.parser.isSet(p.version);
    line.checkClock = p.parser.isSet(p.checkClock);
    Window::LaunchOptions &launch = line.launch;

    const auto protocol = Rig::protocolFromOption(p.parser.value(p.rig));
    if (!protocol)
        return QStringLiteral("unknown protocol \"%1\" for --rig; use %2")
            .arg(p.parser.value(p.rig), Rig::protocolOptions());
    launch.protocol = *protocol;

    // A period or chirptime the computation can never read is refused now, in the words
    // Start would use.
    const auto unreadable = [&](const QString &period,
                                const QString &chirptime,
                                Tracking::StepField field) -> std::optional<QString> {
        const Tracking::StepInputs inputs{period, chirptime, 0};
        const auto outcome = Tracking::ComputeStep(600, inputs, locale);
        const auto *failure = std::get_if<Tracking::StepFailure>(&outcome);
        if (!failure || failure->field != field)
            return std::nullopt;
        return Tracking::describeFailure(*failure, inputs, locale);
    };
    if (p.parser.isSet(p.period)) {
        launch.period = p.parser.value(p.period);
        if (const auto why
            = unreadable(*launch.period, QStringLiteral("0"), Tracking::StepField::Period))
            return QStringLiteral("--period: ") + *why;
    }
    if (p.parser.isSet(p.chirptime)) {
        launch.chirptime = p.parser.value(p.chirptime);
        if (const auto why
            = unreadable(QStringLiteral("300"), *launch.chirptime, Tracking::StepField::Chirptime))
            return QStringLiteral("--chirptime: ") + *why;
    }
    if (p.parser.isSet(p.offset)) {
        launch.offsetUnits = wholeNumber(p.parser.value(p.offset), -10, 10);
        if (!launch.offsetUnits)
            return QStringLiteral("--offset takes a whole number from -10 to 10, not \"%1\"")
                .arg(p.parser.value(p.offset));
    }
    if (p.parser.isSet(p.host))
        launch.host = p.parser.value(p.host);
    if (p.parser.isSet(p.port)) {
        const auto port = wholeNumber(p.parser.value(p.port), 1, 65535);
        if (!port)
            return QStringLiteral("--port takes a whole number from 1 to 65535, not \"%1\"")
                .arg(p.parser.value(p.port));
        launch.port = quint16(*port);
    }
    if (p.parser.isSet(p.reconnect)) {
        const auto seconds = wholeNumber(p.parser.value(p.reconnect), 1, 3600);
        if (!seconds)
            return QStringLiteral(
                       "--reconnect takes a whole number of seconds from 1 to 3600, not \"%1\"")
                .arg(p.parser.value(p.reconnect));
        launch.reconnectSeconds = *seconds;
    }
    launch.connect = p.parser.isSet(p.connect);
    launch.start = p.parser.isSet(p.start);
    launch.utc = p.parser.isSet(p.utc);

    line.listAudioInputs = p.parser.isSet(p.audioInputs);
    launch.listen = p.parser.isSet(p.listen);
    Listen::ListenOptions &listening = launch.listening;
    listening.inputText = kept.inputText;
    listening.audioDelayMs = kept.audioDelayMs;
    listening.delayFromMs = kept.delayFromMs;
    listening.delayToMs = kept.delayToMs;
    listening.folder = kept.folder;
    if (p.parser.isSet(p.audioInput)) {
        listening.inputText = p.parser.value(p.audioInput).trimmed();
        if (listening.inputText != kept.inputText)
            listening.audioDelayMs.reset();
    }
    listening.iq = p.parser.isSet(p.iq);
    listening.iqSwapped = p.parser.isSet(p.iqSwap);
    if (listening.iqSwapped && !listening.iq)
        return QStringLiteral("--iq-swap goes with --iq");
    if (p.parser.isSet(p.passband)) {
        // Within what a 192 kHz input holds, and wide enough for a chirp to be heard.
        const double lowest = listening.iq ? -96000 : 0;
        const QStringList ends = p.parser.value(p.passband).split(u':');
        const auto low = ends.size() == 2 ? decimalNumber(ends[0], lowest, 96000) : std::nullopt;
        const auto high = ends.size() == 2 ? decimalNumber(ends[1], lowest, 96000) : std::nullopt;
        if (!low || !high || *high - *low < 1000)
            return (listening.iq ? QStringLiteral("--passband takes two numbers of Hz from -96000 "
                                                  "to 96000, the second at least 1000 more "
                                                  "than the first, as -90000:90000, not \"%1\"")
                                 : QStringLiteral("--passband takes two numbers of Hz from 0 to "
                                                  "96000, the second at least 1000 more than "
                                                  "the first, as 300:2700, not \"%1\""))
                .arg(p.parser.value(p.passband));
        listening.passbandHz = std::pair(*low, *high);
    }
    if (p.parser.isSet(p.delayRange)) {
        // Delays the search can reach, at least 5 ms of them.
        const QStringList ends = p.parser.value(p.delayRange).split(u':');
        const auto from = ends.size() == 2 ? decimalNumber(ends[0], -50, 300) : std::nullopt;
        const auto to = ends.size() == 2 ? decimalNumber(ends[1], -50, 300) : std::nullopt;
        if (!from || !to || *to - *from < 5)
            return QStringLiteral("--delay-range takes two numbers of ms from -50 to 300, the "
                                  "second at least 5 more than the first, as 0:40, not \"%1\"")
                .arg(p.parser.value(p.delayRange));
        listening.delayFromMs = *from;
        listening.delayToMs = *to;
    }
    if (p.parser.isSet(p.audioDelay)) {
        listening.audioDelayMs = decimalNumber(p.parser.value(p.audioDelay), 0, 1000);
        if (!listening.audioDelayMs)
            return QStringLiteral("--audio-delay takes a number of ms from 0 to 1000, not \"%1\"")
                .arg(p.parser.value(p.audioDelay));
    }
    if (p.parser.isSet(p.ionograms)) {
        listening.folder = p.parser.value(p.ionograms);
        if (listening.folder.trimmed().isEmpty())
            return QStringLiteral("--ionograms takes a folder");
    }
    if (p.parser.isSet(p.rate)) {
        launch.rateKhzPerS = decimalNumber(p.parser.value(p.rate), 1, 1000);
        if (!launch.rateKhzPerS)
            return QStringLiteral("--rate takes a number of kHz per second from 1 to 1000, with "
                                  "\".\" for decimals, not \"%1\"")
                .arg(p.parser.value(p.rate));
    }
    if (p.parser.isSet(p.find)) {
        const auto hz = wholeNumber(p.parser.value(p.find), 1'000'000, 30'000'000);
        if (!hz)
            return QStringLiteral("--find takes a frequency in Hz from 1000000 to 30000000, not "
                                  "\"%1\"")
                .arg(p.parser.value(p.find));
        if (launch.start)
            return QStringLiteral("--find parks the radio; it does not go with --start");
        launch.findHz = qint32(*hz);
        launch.connect = true;
        launch.listen = true;
        // Two of the longest periods tried: every sounder heard twice, one period apart.
        double longest = 3600;
        if (launch.period)
            longest = Tracking::periodSeconds(*launch.period, locale).value_or(longest);
        launch.findSeconds = 2 * longest;
    }
    if (p.parser.isSet(p.findSeconds)) {
        const auto seconds = decimalNumber(p.parser.value(p.findSeconds), 1, 1'000'000);
        if (!seconds || !launch.findHz)
            return QStringLiteral("--find-seconds takes a number of seconds from 1 to 1000000, "
                                  "with --find, not \"%1\"")
                .arg(p.parser.value(p.findSeconds));
        launch.findSeconds = *seconds;
    }
    if (scale) {
        ScaleRequest &request = line.scale.emplace();
        request.files = p.parser.positionalArguments();
        if (launch.period)
            request.periodS = Tracking::periodSeconds(*launch.period, locale);
        // The chirptime within the period, as listening writes it (a whole day without one).
        if (launch.chirptime) {
            const auto sounder = Tracking::Sounder::read(
                launch.period.value_or(QStringLiteral("86400")), *launch.chirptime, 100, locale);
            if (sounder)
                request.chirptimeS = sounder->chirptimeMs / 1000.0;
        }
        request.rateKhzPerS = launch.rateKhzPerS;
    }
    return line;
}

QString helpText()
{
    Parser p;
    QString text = p.parser.helpText();
    // The parser names the program from the running application, which may not exist yet.
    const qsizetype usageEnd = text.indexOf(u'\n');
    return QStringLiteral("Usage: zarvotel [options]") + text.mid(usageEnd);
}

} // namespace App
