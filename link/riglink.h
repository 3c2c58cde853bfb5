#pragma once

#include "rigclient.h"
#include "rigprotocols.h"

#include <QObject>
#include <QTimer>

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
// drive real radios that answer slowly: a command goes out when the step changes (and
// once after connecting), one at a time, the newest step winning, and a reply that does not
// come within two seconds counts as a failed send.
class RigLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReplyTimeoutMs = 2000;

    RigLink(LinkControls &controls,
            RigClient &client,
            Protocol protocol = Protocol::HrdText,
            QObject *parent = nullptr);

    Protocol protocol() const { return m_protocol; }

    void onConnectClicked();
    void onDisconnectClicked();
    void onConnected();
    void onDataArrived();

    // Sends the command for a step frequency text; on failure closes the client and tells
    // the user that the rig-control program needs to be running.
    void SendStep(const QString &stepText);

private:
    bool paced() const { return m_protocol != Protocol::HrdText; }
    void sendFailed(RigClient::SendResult result = RigClient::SendResult::NotConnected);
    void sendWanted();
    void takeReplies();
    void forgetCommands();

    LinkControls &m_controls;
    RigClient &m_client;
    const Protocol m_protocol;

    // The paced programs' conversation on the open connection.
    enum class InFlight { Nothing, Context, Step };
    InFlight m_inFlight = InFlight::Nothing;
    QString m_wantedStep; // the newest step of the ticks
    QString m_sentStep;   // the step last sent on this connection
    QString m_context;    // HamRadioDeluxe's answer to "get context"
    QByteArray m_received;
    QTimer m_replyTimer;
};

} // namespace Rig
