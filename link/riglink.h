// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "protocol.h"
#include "rigclient.h"
#include "rigprogram.h"

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
    virtual void setStatusCaption(const QString &text) = 0;
    // 24-bit RGB, red in the low byte.
    virtual void setIndicatorColour(qint32 colour) = 0;
    virtual void setIndicatorToolTip(const QString &text) = 0;
};

// The handlers behind Connect, Disconnect and the client's notifications, and the send of
// each tick's step. The indicator and status line follow these handlers only.
//
// With HamRadioDeluxe's plain text protocol every tick sends its line. The other programs
// drive real radios that answer slowly: after the program's opening requests, a command
// goes out when the step changes (and once after connecting), one at a time, the newest
// step winning, and an answer that does not come within two seconds counts as a failed
// send. What each program sends and answers is its Conversation's business.
class RigLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReplyTimeoutMs = 2000;

    RigLink(LinkControls &controls,
            RigClient &client,
            Protocol protocol = Protocol::HrdText,
            QObject *parent = nullptr);
    ~RigLink() override;

    Protocol protocol() const { return m_protocol; }

    void onConnectClicked();
    void onDisconnectClicked();
    void onConnected();
    void onDataArrived();

    // Sends the command for a step frequency in hertz; on failure closes the client and
    // tells the user that the rig-control program needs to be running.
    void SendStep(qint32 stepHz);

    // From the next Connect on, whenever the link goes down (a failed send, a refused or
    // failed attempt, a dropped connection) Connect is pressed again every `seconds` until
    // the link is up; meanwhile the ticks send nothing. Disconnect stops it. 0: never.
    void setReconnectSeconds(int seconds) { m_reconnectSeconds = seconds; }
    int reconnectSeconds() const { return m_reconnectSeconds; }

Q_SIGNALS:
    // The connection is established (after the status line and the indicator say so).
    void linkEstablished();

private:
    bool paced() const { return m_conversation && m_conversation->paced(); }
    void send(const QByteArray &request);
    void sendFailed(RigClient::SendResult result = RigClient::SendResult::NotConnected);
    void sendWanted();
    void takeAnswers();
    void forgetConversation();
    void linkDown();
    // Closes the connection and forgets its conversation: the box turns red and the status
    // line says status.
    void dropLink(const QString &status);

    LinkControls &m_controls;
    RigClient &m_client;
    const Protocol m_protocol;
    std::unique_ptr<Conversation> m_conversation;

    // The paced programs' conversation on the open connection.
    bool m_inFlight = false; // a request is out and its answer not yet in
    bool m_ready = false;    // the opening is done: steps may go out
    bool m_unusable = false; // the program cannot be driven on this connection
    qint32 m_wantedHz = 0;   // the newest step of the ticks
    qint32 m_sentHz = 0;     // the step last sent on this connection
    QByteArray m_received;
    QTimer m_replyTimer;

    int m_reconnectSeconds = 0;
    bool m_retrying = false; // Connect was pressed, and Disconnect not since
    bool m_down = false;     // the link went down: a new attempt is waited for or under way
    QTimer m_retryTimer;
};

} // namespace Rig
