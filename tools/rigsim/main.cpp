// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// rigsim: a stand-in for the rig-control program. Listens on 127.0.0.1, prints every
// command it receives with the time it arrived, and answers each as the program would.

#include "rigpeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTime>

#include <cstdio>

namespace {

void say(const QString &text)
{
    std::printf("%s %s\n",
                qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                qPrintable(text));
    std::fflush(stdout);
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

    const Peer::Behaviour behaviour = parser.isSet(silentOption)   ? Peer::Behaviour::Silent
                                      : parser.isSet(refuseOption) ? Peer::Behaviour::Refuse
                                                                   : Peer::Behaviour::Answer;
    Peer::RigPeer peer(*dialect, behaviour);
    peer.setAnswer(parser.value(replyOption).toUtf8());
    peer.setVfoMode(parser.isSet(vfoModeOption));
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

    QObject::connect(&peer, &Peer::RigPeer::connectionAccepted, &peer, [](const QString &from) {
        say(QStringLiteral("connected ") + from);
    });
    QObject::connect(
        &peer, &Peer::RigPeer::connectionEnded, &peer, [] { say(QStringLiteral("disconnected")); });
    QObject::connect(&peer, &Peer::RigPeer::commandTaken, &peer, [](const Peer::Command &command) {
        say(command.text);
    });
    QObject::connect(&peer, &Peer::RigPeer::dropped, &peer, [](const QString &why) {
        say(QStringLiteral("closing the connection: ") + why);
    });
    return QCoreApplication::exec();
}
