// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "protocol.h"
#include "rigclient.h"
#include "rigprogram.h"

#include <QByteArrayList>
#include <QObject>
#include <QTimer>

#include <memory>

namespace Rig {

// The window's controls as the link sees them.
class LinkControls
{
public:
    virtual ~LinkControls() = default;

    virtual QString hostText() const = 0;
    virtual QString portText() const = 0;
    // The status line's text exactly as given; its tooltip says the same.
    virtual void setStatusCaption(const QString &text) = 0;
    // A text of Zarvotel's own: the caption in the status line, the whole in its tooltip.
    virtual void setStatusText(const StatusText &text) = 0;
    // 24-bit RGB, red in the low byte.
    virtual void setIndicatorColour(qint32 colour) = 0;
    virtual void setIndicatorToolTip(const QString &text) = 0;
};

// Whether and when Connect is pressed again while the link is down.
class ReconnectPolicy
{
public:
    explicit ReconnectPolicy(int seconds = 0)
        : m_seconds(seconds)
    {}

    int seconds() const { return m_seconds; }
    // Connect was pressed: from now on a lost link is tried again, if the policy says so.
    void armed() { m_armed = m_seconds > 0; }
    // Disconnect was pressed, or the host or port can never be reached: no more tries.
    void disarmed() { m_armed = false; }
    bool triesAgain() const { return m_armed; }

private:
    int m_seconds = 0;
    bool m_armed = false;
};

// The handlers behind Connect, Disconnect and the client's notifications, and the send of
// each tick's step: one state machine per link. The indicator and status line follow these
// handlers only.
//
// With a program whose replies are only shown (HamRadioDeluxe's text lines), every tick
// sends its line whatever the state, and a failed send is the only sign of a lost link.
// Programs that drive real radios and answer slowly are sent the program's opening requests
// first, then a command whenever the step changes (and once after connecting), one at a
// time, the newest step winning; an answer that does not come within two seconds counts as a
// failed send. What each program sends and answers is its Conversation's business.
class RigLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReplyTimeoutMs = 2000;

    enum class State {
        Closed,       // no connection, none under way
        Connecting,   // an attempt is under way
        Opening,      // connected; the program's opening requests are being answered
        Ready,        // connected; no answer is awaited
        Awaiting,     // connected; a step went out and its answer is awaited
        Sideband,     // connected; a request that sets upper sideband awaits its answer
        Unusable,     // connected, but the program cannot be driven on this connection
        WaitingRetry, // the link went down; Connect is pressed again when the time comes
    };
    Q_ENUM(State)

    RigLink(LinkControls &controls,
            RigClient &client,
            Protocol protocol = Protocol::HrdText,
            ReconnectPolicy reconnect = ReconnectPolicy(),
            QObject *parent = nullptr);
    ~RigLink() override;

    Protocol protocol() const { return m_program.protocol; }
    State state() const { return m_state; }
    // Connected to a program that can be driven: the steps reach the radio.
    bool reachesRadio() const
    {
        return m_state == State::Opening || m_state == State::Ready || m_state == State::Awaiting
               || m_state == State::Sideband;
    }

    void onConnectClicked();
    void onDisconnectClicked();
    void onConnected();
    void onDataArrived();

    // Sends the command for a step frequency in hertz; on failure closes the client and
    // tells the user that the rig-control program needs to be running. The step is kept:
    // whatever goes out next, after any reconnection, is the newest step.
    void SendStep(qint32 stepHz);

    // Whether the radio is to be set to upper sideband (while listening): once per connection,
    // after the answer to its first step, and once at once when it becomes wanted.
    void setSidebandWanted(bool wanted);
    bool sidebandWanted() const { return m_sidebandWanted; }

Q_SIGNALS:
    // The connection is established (after the status line and the indicator say so).
    void linkEstablished();
    // The program answered that the radio did not take upper sideband; the link stays.
    void sidebandRefused(const QString &text);

private:
    void onClientError(const QString &text);
    void onReplyTimeout();
    void takeAnswers();
    void sendWanted();
    void answered(const Answer &answer, bool sideband);
    void sidebandAnswered(const Answer &answer);
    // Goes on as the conversation says when the request awaited in state awaiting gets no
    // answer; false when it cannot.
    bool goWithoutAnswer(State awaiting);
    void request(const QByteArray &bytes, State awaiting);
    void sendFailed(RigClient::SendResult result = RigClient::SendResult::NotConnected);
    void linkLost();
    // Closes the connection and forgets its conversation; nothing visible changes.
    void closeLink();
    // The same, and the box turns red.
    void dropLink();
    void enter(State state) { m_state = state; }

    LinkControls &m_controls;
    RigClient &m_client;
    const RigProgram &m_program;
    ReconnectPolicy m_reconnect;
    State m_state = State::Closed;
    std::unique_ptr<Conversation> m_conversation;

    qint32 m_wantedHz = 0; // the newest step of the ticks
    qint32 m_sentHz = 0;   // the step last sent on this connection
    bool m_sidebandWanted = false;
    bool m_sidebandSent = false; // on this connection, since it became wanted
    QByteArray m_received;
    QByteArray m_lastRequest;
    // Requests the program at m_unknownAt closed the connection on: later connections go on
    // without them, until Disconnect or another host or port.
    QByteArrayList m_unknown;
    QString m_unknownAt;
    QTimer m_replyTimer;
    QTimer m_retryTimer;
};

} // namespace Rig
