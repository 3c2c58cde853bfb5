// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "rigprogram.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <optional>

class QTcpSocket;

namespace Peer {

// The rig-control program the peer stands in for, seen from the program's side.
using Dialect = Rig::Protocol;

// What the peer does with each command it takes.
enum class Behaviour {
    Answer, // answers as the program does when all is well
    Silent, // takes the command and answers nothing
    Refuse, // answers that the command was not carried out
    Close,  // closes the connection (FIN) instead of answering
    Reset,  // resets the connection (RST) instead of answering
    Stall,  // stops reading, so that the sender's buffers fill up
};

// The frequency in hertz that a command sets, read from the command's text as the peer
// records it ("set frequency-hz 7100000", "[1] set frequency-hz 7100000", "F 7100000", with
// vfoMode "F currVFO 7100000", "rig.set_frequency 7100000.5" rounded); nothing for another
// command, one the program would not take, or a number that is no frequency.
std::optional<qint64> frequencyHz(Dialect dialect, const QString &text, bool vfoMode = false);

// One command as the peer took it.
struct Command
{
    QString text;    // a line without its line end, a frame's text, or "method arg ..."
    QByteArray raw;  // its bytes on the wire
    QDateTime taken; // when it was taken, by the system clock
};

// A rig-control program's stand-in on 127.0.0.1: takes the commands of one dialect from
// every connection it accepts, keeps them, and answers as the script says. It cuts the
// stream with the client's own framing; hand-written bytes in the tests and the real
// rigctld and flrig check that framing.
class RigPeer : public QObject
{
    Q_OBJECT

public:
    explicit RigPeer(Dialect dialect = Dialect::HrdText,
                     Behaviour behaviour = Behaviour::Answer,
                     QObject *parent = nullptr);
    ~RigPeer() override;

    // Listens on 127.0.0.1; port 0 takes a free one, which port() then tells.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    void stopListening() { m_server.close(); }

    Dialect dialect() const { return m_dialect; }
    void setBehaviour(Behaviour behaviour) { m_behaviour = behaviour; }
    // The answer to a frequency command: a line for the text dialects, a frame's text, or
    // flrig's <value> content ("<i4>1</i4>"). Empty: the dialect's own.
    void setAnswer(const QByteArray &answer) { m_answer = answer; }
    // rigctld started with -o: "\chk_vfo" answers 1, and commands name the VFO ("F currVFO
    // 14100000"); a frequency without one is never answered, as rigctld waits for more.
    void setVfoMode(bool on) { m_vfoMode = on; }
    // HamRadioDeluxe's answers to "get radios" and "get radio".
    void setRadios(const QString &radios, const QString &current)
    {
        m_radios = radios;
        m_currentRadio = current;
    }
    // The radio's mode as the mode commands of rigctld ("M USB 0"), flrig (rig.set_mode) and
    // HamRadioDeluxe 5 ("set dropdown Mode USB 1") leave it; "USB" until one comes.
    QString mode() const { return m_mode; }
    void setMode(const QString &mode);
    // Answers mode commands that the radio did not take it ("RPRT -11", a fault, "Unknown
    // command"), all else as the behaviour says.
    void setRefusesMode(bool on) { m_refusesMode = on; }
    // Keeps the answers to frequency and mode commands back until releaseAnswers().
    void holdAnswers() { m_holding = true; }
    void releaseAnswers();

    // Acts on every open connection now.
    void send(const QByteArray &bytes);
    void closeAll();
    void halfCloseAll(); // ends the sending half and goes on reading
    void resetAll();

    QList<Command> commands() const { return m_commands; }
    QStringList commandTexts() const;
    QByteArray received() const { return m_received; }
    // What arrived, cut after each line feed; what follows the last one is left out.
    QList<QByteArray> lines() const;
    // The frequency the last frequency command set, in hertz as sent.
    QByteArray frequency() const { return m_frequency; }
    // What was wrong with a request, for the dialects that can tell.
    QStringList problems() const { return m_problems; }
    int accepted() const { return m_accepted; }
    int open() const;

Q_SIGNALS:
    void connectionAccepted(const QString &from);
    void connectionEnded();
    void commandTaken(const Peer::Command &command);
    // A connection the peer closed itself, and why.
    void dropped(const QString &why);
    // A mode command changed the radio's mode.
    void modeChanged(const QString &mode);

private:
    class Conversation;
    friend class Conversation;

    void accept();
    // The answer to a command of the given name and first argument, by the behaviour.
    QByteArray answerFor(const QByteArray &name, const QByteArray &argument);
    void resetSocket(QTcpSocket *socket);

    const Dialect m_dialect;
    Behaviour m_behaviour;
    QByteArray m_answer;
    bool m_holding = false;
    bool m_vfoMode = false;
    bool m_refusesMode = false;
    QString m_mode = QStringLiteral("USB");
    QString m_radios = QStringLiteral("1:IC-7300,2:FT-991A");
    QString m_currentRadio = QStringLiteral("FT-991A");
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> m_held;

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_sockets;
    QList<Command> m_commands;
    QByteArray m_received;
    QByteArray m_frequency = "0";
    QStringList m_problems;
    int m_accepted = 0;
};

} // namespace Peer
