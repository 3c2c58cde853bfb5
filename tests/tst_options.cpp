// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The command line, read without a window.

#include "keptsettings.h"
#include "options.h"
#include "testenvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using App::CommandLine;

namespace {

// Listening's options as "name=value" words, those left as they start out.
QStringList listeningWords(const Listen::ListenOptions &l)
{
    QStringList words;
    if (!l.inputText.isEmpty())
        words << QStringLiteral("input=") + l.inputText;
    if (l.delayFromMs != 0 || l.delayToMs != 40)
        words << QStringLiteral("delays=%1:%2").arg(l.delayFromMs).arg(l.delayToMs);
    if (l.audioDelayMs)
        words << QStringLiteral("audio-delay=%1").arg(*l.audioDelayMs);
    if (!l.folder.isEmpty())
        words << QStringLiteral("folder=") + l.folder;
    if (l.passbandHz)
        words
            << QStringLiteral("passband=%1:%2").arg(l.passbandHz->first).arg(l.passbandHz->second);
    if (l.iq)
        words << (l.iqSwapped ? QStringLiteral("iq-swapped") : QStringLiteral("iq"));
    return words;
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        setUpTestEnvironment();
        QStandardPaths::setTestModeEnabled(true);
    }
    void options_data();
    void options();
    void scaleSweeps();
    void keptListening_data();
    void keptListening();
};

void TestOptions::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QLocale>("locale");
    // What was read, as "name=value" words in a fixed order, or "error: " and the line.
    QTest::addColumn<QString>("read");

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    const auto row = [&](const char *name,
                         const QStringList &arguments,
                         const char *read,
                         const QLocale &locale) {
        QTest::newRow(name) << (QStringList{QStringLiteral("zarvotel")} + arguments) << locale
                            << QString::fromUtf8(read);
    };
    row("nothing: the window as designed", {}, "rig=hrd-text", english);
    row("every start value",
        {"--rig",
         "rigctld",
         "--period",
         "600",
         "--chirptime",
         "78.5",
         "--offset",
         "-10",
         "--host",
         "radio.local",
         "--port",
         "4533",
         "--connect",
         "--start",
         "--reconnect",
         "2",
         "--utc"},
        "rig=rigctld period=600 chirptime=78.5 offset=-10 host=radio.local port=4533 connect "
        "start reconnect=2 utc",
        english);
    row("a comma locale reads 78,5",
        {"--chirptime", "78,5"},
        "rig=hrd-text chirptime=78,5",
        german);
    row("the other separator",
        {"--chirptime", "78.5"},
        R"(error: --chirptime: Chirptime "78.5" is not a number; use "," for decimals.)",
        german);
    row("period not a number",
        {"--period", "five"},
        R"(error: --period: Period "five" is not a number.)",
        english);
    row("period 0", {"--period", "0"}, R"(error: --period: Period "0" is too short.)", english);
    row("negative period",
        {"--period", "-300"},
        R"(error: --period: Period "-300" must be more than 0 seconds.)",
        english);
    row("offset 11",
        {"--offset", "11"},
        R"(error: --offset takes a whole number from -10 to 10, not "11")",
        english);
    row("offset 1.5",
        {"--offset", "1.5"},
        R"(error: --offset takes a whole number from -10 to 10, not "1.5")",
        english);
    row("port 0",
        {"--port", "0"},
        R"(error: --port takes a whole number from 1 to 65535, not "0")",
        english);
    row("port 65536",
        {"--port", "65536"},
        R"(error: --port takes a whole number from 1 to 65535, not "65536")",
        english);
    row("port 65535", {"--port", "65535"}, "rig=hrd-text port=65535", english);
    row("reconnect 0",
        {"--reconnect", "0"},
        R"(error: --reconnect takes a whole number of seconds from 1 to 3600, not "0")",
        english);
    row("reconnect 3601",
        {"--reconnect", "3601"},
        R"(error: --reconnect takes a whole number of seconds from 1 to 3600, not "3601")",
        english);
    row("unknown protocol",
        {"--rig", "bogus"},
        R"(error: unknown protocol "bogus" for --rig; use hrd-text, hrd, rigctld or flrig)",
        english);
    row("unknown option", {"--bogus"}, "error: Unknown option 'bogus'.", english);
    row("value missing", {"--port"}, "error: Missing value after '--port'.", english);
    row("a stray word", {"connect"}, R"(error: unexpected argument "connect")", english);
    row("listening",
        {"--listen",
         "--audio-input",
         " USB ",
         "--delay-range",
         "-5:60.5",
         "--audio-delay",
         "37.5",
         "--ionograms",
         "/tmp/sweeps",
         "--audio-inputs"},
        "rig=hrd-text listen input=USB delays=-5:60.5 audio-delay=37.5 folder=/tmp/sweeps "
        "audio-inputs",
        english);
    const char *const delayRange = R"(error: --delay-range takes two numbers of ms from -50 to )"
                                   R"(300, the second at least 5 more than the first, as 0:40, )";
    row("delay range backwards",
        {"--delay-range", "40:0"},
        (delayRange + std::string(R"(not "40:0")")).c_str(),
        english);
    row("delay range 4 ms",
        {"--delay-range", "10:14"},
        (delayRange + std::string(R"(not "10:14")")).c_str(),
        english);
    row("delay range past the search",
        {"--delay-range", "0:301"},
        (delayRange + std::string(R"(not "0:301")")).c_str(),
        english);
    row("delay range one number",
        {"--delay-range", "40"},
        (delayRange + std::string(R"(not "40")")).c_str(),
        english);
    row("a wide passband", {"--passband", "300:20000"}, "rig=hrd-text passband=300:20000", english);
    row("I/Q, swapped, part of its band",
        {"--iq", "--iq-swap", "--passband", "-90000:90000"},
        "rig=hrd-text passband=-90000:90000 iq-swapped",
        english);
    row("audio has no negative frequencies",
        {"--passband", "-3000:3000"},
        R"(error: --passband takes two numbers of Hz from 0 to 96000, the second at least )"
        R"(1000 more than the first, as 300:2700, not "-3000:3000")",
        english);
    row("I/Q past 192 kHz",
        {"--iq", "--passband", "-100000:90000"},
        R"(error: --passband takes two numbers of Hz from -96000 to 96000, the second at )"
        R"(least 1000 more than the first, as -90000:90000, not "-100000:90000")",
        english);
    row("a passband too narrow for a chirp",
        {"--passband", "1000:1500"},
        R"(error: --passband takes two numbers of Hz from 0 to 96000, the second at least )"
        R"(1000 more than the first, as 300:2700, not "1000:1500")",
        english);
    row("swapped without I/Q", {"--iq-swap"}, "error: --iq-swap goes with --iq", english);
    row("finding at 125 kHz/s for a period given",
        {"--find", "7000000", "--period", "450", "--rate", "125"},
        "rig=hrd-text period=450 connect rate=125 find=7000000 for=900 listen",
        english);
    row("finding for a time given",
        {"--find", "7000000", "--find-seconds", "90.5"},
        "rig=hrd-text connect find=7000000 for=90.5 listen",
        english);
    row("finding does not sweep",
        {"--find", "7000000", "--start"},
        "error: --find parks the radio; it does not go with --start",
        english);
    row("find 30.5 MHz",
        {"--find", "30500000"},
        R"(error: --find takes a frequency in Hz from 1000000 to 30000000, not "30500000")",
        english);
    row("find seconds without find",
        {"--find-seconds", "60"},
        R"(error: --find-seconds takes a number of seconds from 1 to 1000000, with --find, )"
        R"(not "60")",
        english);
    row("rate 0",
        {"--rate", "0"},
        R"(error: --rate takes a number of kHz per second from 1 to 1000, with "." for )"
        R"(decimals, not "0")",
        english);
    row("rate with a comma",
        {"--rate", "500,0084"},
        R"(error: --rate takes a number of kHz per second from 1 to 1000, with "." for )"
        R"(decimals, not "500,0084")",
        english);
    row("audio delay negative",
        {"--audio-delay", "-3"},
        R"(error: --audio-delay takes a number of ms from 0 to 1000, not "-3")",
        english);
    row("audio delay nan",
        {"--audio-delay", "nan"},
        R"(error: --audio-delay takes a number of ms from 0 to 1000, not "nan")",
        english);
    row("scale with the sounder, in a comma locale",
        {"--scale", "a.csv", "--period", "300", "--chirptime", "378,5", "b.csv"},
        "rig=hrd-text period=300 chirptime=378,5 scale=a.csv,b.csv period_s=300 chirptime_s=78.5",
        german);
    row("scale without a sounder", {"--scale", "a.csv"}, "rig=hrd-text scale=a.csv", english);
    row("scale without a file",
        {"--scale", "--period", "300"},
        "error: --scale takes one or more sweep CSV files",
        english);
    row("help, version, check-clock",
        {"--help", "--version", "--check-clock"},
        "rig=hrd-text help version check-clock",
        english);
}

void TestOptions::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QLocale, locale);
    QFETCH(QString, read);

    const auto parsed = App::parseCommandLine(arguments, locale);
    if (const auto *error = std::get_if<QString>(&parsed)) {
        QCOMPARE(QStringLiteral("error: ") + *error, read);
        return;
    }
    const CommandLine &line = std::get<CommandLine>(parsed);
    const Window::LaunchOptions &o = line.launch;
    QStringList words{QStringLiteral("rig=") + Rig::protocolOption(o.protocol)};
    if (o.period)
        words << QStringLiteral("period=") + *o.period;
    if (o.chirptime)
        words << QStringLiteral("chirptime=") + *o.chirptime;
    if (o.offsetUnits)
        words << QStringLiteral("offset=%1").arg(*o.offsetUnits);
    if (o.host)
        words << QStringLiteral("host=") + *o.host;
    if (o.port)
        words << QStringLiteral("port=%1").arg(*o.port);
    const std::pair<bool, const char *> flags[] = {{o.connect, "connect"}, {o.start, "start"}};
    for (const auto &[on, name] : flags) {
        if (on)
            words << QString::fromLatin1(name);
    }
    if (o.reconnectSeconds)
        words << QStringLiteral("reconnect=%1").arg(o.reconnectSeconds);
    if (o.utc)
        words << QStringLiteral("utc");
    if (o.rateKhzPerS)
        words << QStringLiteral("rate=%1").arg(*o.rateKhzPerS);
    if (o.findHz)
        words << QStringLiteral("find=%1 for=%2").arg(*o.findHz).arg(o.findSeconds);
    if (o.listen)
        words << QStringLiteral("listen");
    words << listeningWords(o.listening);
    const std::pair<bool, const char *> more[] = {{line.listAudioInputs, "audio-inputs"},
                                                  {line.help, "help"},
                                                  {line.version, "version"},
                                                  {line.checkClock, "check-clock"}};
    for (const auto &[on, name] : more) {
        if (on)
            words << QString::fromLatin1(name);
    }
    if (line.scale) {
        words << QStringLiteral("scale=") + line.scale->files.join(u',');
        if (line.scale->periodS)
            words << QStringLiteral("period_s=%1").arg(*line.scale->periodS);
        if (line.scale->chirptimeS)
            words << QStringLiteral("chirptime_s=%1").arg(*line.scale->chirptimeS);
    }
    QCOMPARE(words.join(u' '), read);
}

// zarvotel --scale: a row for each file read, in the order given; a line on standard error
// for each that cannot be, and exit 1.
void TestOptions::scaleSweeps()
{
    QTemporaryDir dir;
    const auto write = [&](const char *name, const QByteArray &text) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    const QByteArray header("time_utc,frequency_hz,snr_db,delays_ms\n");
    // Heard from 5.0 to 5.6 MHz, a second echo 4 ms behind on 5.0 to 5.2 MHz only.
    write("20261208-100500Z.csv",
          header
              + "2026-12-08T10:05:20.000Z,5000000,17.3,10.00 14.00\n"
                "2026-12-08T10:05:21.000Z,5100000,17.1,10.10 14.10\n"
                "2026-12-08T10:05:22.000Z,5200000,16.0,10.20 14.20\n"
                "2026-12-08T10:05:23.000Z,5300000,15.2,10.30\n"
                "2026-12-08T10:05:24.000Z,5400000,14.8,10.40\n"
                "2026-12-08T10:05:25.000Z,5500000,12.5,10.50\n"
                "2026-12-08T10:05:26.000Z,5600000,9.9,10.62\n"
                "2026-12-08T10:05:27.000Z,5700000,6.1,\n");
    write("20261208-101000Z.csv", header);
    write("20261208-101500Z.csv", header + "2026-12-08T10:15:20.000Z,2000000,17.3,5.12 x\n");
    write("notes.csv", header);

    QProcess zarvotel;
    zarvotel.setWorkingDirectory(dir.path());
    // Lines as printed, ending in "\r\n" on Windows' console.
    const auto out = [&] {
        return zarvotel.readAllStandardOutput().replace("\r\n", "\n");
    };
    const auto err = [&] {
        return zarvotel.readAllStandardError().replace("\r\n", "\n");
    };
    const auto run = [&](const QStringList &arguments) {
        zarvotel.start(QStringLiteral(ZARVOTEL_PATH), arguments);
        return zarvotel.waitForFinished(10'000) && zarvotel.exitStatus() == QProcess::NormalExit;
    };
    const QByteArray summaryHeader("time_utc,period_s,chirptime_s,rate_khz_s,mof_hz,"
                                   "mof_delay_ms,mof2_hz,mof2_delay_ms,steps_heard,"
                                   "steps_measured\n");
    QVERIFY(run({"--scale",
                 "20261208-100500Z.csv",
                 "20261208-101000Z.csv",
                 "--period",
                 "300",
                 "--chirptime",
                 "78.5",
                 "--rate",
                 "100"}));
    QCOMPARE(err(), QByteArray());
    QCOMPARE(out(),
             summaryHeader
                 + "2026-12-08T10:05:00.000Z,300,78.5,100,5600000,10.62,,,7,8\n"
                   "2026-12-08T10:10:00.000Z,300,78.5,100,,,,,0,0\n");
    QCOMPARE(zarvotel.exitCode(), 0);

    QVERIFY(run({"--scale",
                 "20261208-101500Z.csv",
                 "20261208-100500Z.csv",
                 "missing/20261208-102000Z.csv",
                 "notes.csv"}));
    QCOMPARE(out(), summaryHeader + "2026-12-08T10:05:00.000Z,,,,5600000,10.62,,,7,8\n");
    QCOMPARE(
        err(),
        QByteArray("zarvotel: 20261208-101500Z.csv: line 2 is damaged\n"
                   "zarvotel: "
                   + QDir::toNativeSeparators("missing/20261208-102000Z.csv").toUtf8()
                   + ": there is no such file\n"
                     "zarvotel: notes.csv: its name is not a sweep's, as 20261208-100500Z.csv\n"));
    QCOMPARE(zarvotel.exitCode(), 1);
}

void TestOptions::keptListening_data()
{
    QTest::addColumn<QByteArray>("kept"); // the settings file
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("read");

    const QByteArray all = "[listening]\naudioInput=USB CODEC\naudioDelayMs=92\n"
                           "delayFromMs=-5\ndelayToMs=60\nionogramFolder=/data/ionograms\n";
    QTest::newRow("kept, nothing given")
        << all << QStringList()
        << QStringLiteral("input=USB CODEC delays=-5:60 audio-delay=92 folder=/data/ionograms");
    QTest::newRow("another input: the delay kept was the other's")
        << all << QStringList{QStringLiteral("--audio-input"), QStringLiteral("Mic")}
        << QStringLiteral("input=Mic delays=-5:60 folder=/data/ionograms");
    QTest::newRow("the same input keeps its delay")
        << all << QStringList{QStringLiteral("--audio-input"), QStringLiteral("USB CODEC")}
        << QStringLiteral("input=USB CODEC delays=-5:60 audio-delay=92 folder=/data/ionograms");
    QTest::newRow("options given override them")
        << all
        << QStringList{QStringLiteral("--audio-delay"),
                       QStringLiteral("40"),
                       QStringLiteral("--delay-range"),
                       QStringLiteral("0:40"),
                       QStringLiteral("--ionograms"),
                       QStringLiteral("/tmp/iono")}
        << QStringLiteral("input=USB CODEC audio-delay=40 folder=/tmp/iono");
    QTest::newRow("kept values out of range are left out")
        << QByteArray("[listening]\naudioInput=Mic\naudioDelayMs=-3\ndelayFromMs=10\n"
                      "delayToMs=12\n")
        << QStringList() << QStringLiteral("input=Mic");
}

// Listening starts from the settings kept, and the command line overrides them for one run.
void TestOptions::keptListening()
{
    QFETCH(QByteArray, kept);
    QFETCH(QStringList, arguments);
    QFETCH(QString, read);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zarvotel.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kept);
    file.close();
    const auto parsed = App::parseCommandLine(QStringList{QStringLiteral("zarvotel")} + arguments,
                                              QLocale(),
                                              Window::readKeptListening(path));
    QVERIFY(std::holds_alternative<CommandLine>(parsed));
    QCOMPARE(listeningWords(std::get<CommandLine>(parsed).launch.listening).join(u' '), read);
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
