#pragma once

#include "rigclient.h"

#include <QObject>

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
class RigLink : public QObject
{
    Q_OBJECT

public:
    RigLink(LinkControls &controls, RigClient &client, QObject *parent = nullptr);

    void onConnectClicked();
    void onDisconnectClicked();
    void onConnected();
    void onDataArrived();

    // Sends the command line for a step frequency text; on failure closes the client and
    // tells the user that the rig-control program needs to be running.
    void SendStep(const QString &stepText);

private:
    LinkControls &m_controls;
    RigClient &m_client;
};

} // namespace Rig
