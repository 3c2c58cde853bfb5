#include "riglink.h"

#include "protocol.h"

namespace Rig {

RigLink::RigLink(LinkControls &controls, RigClient &client, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_client(client)
{
    connect(&m_client, &RigClient::connected, this, &RigLink::onConnected);
    connect(&m_client, &RigClient::dataArrived, this, &RigLink::onDataArrived);
    connect(&m_client, &RigClient::errorOccurred, this, [this](const QString &text) {
        m_controls.setIndicatorToolTip(text);
    });
}

void RigLink::onConnectClicked()
{
    m_client.Close();
    m_client.setRemoteHost(m_controls.hostText());
    const QString portText = m_controls.portText();
    const std::optional<qint32> port = PortFromText(portText);
    if (port)
        m_client.setRemotePort(*port);

    if (const auto problem = ConnectProblem(m_client.remoteHost(), portText, port)) {
        m_controls.setIndicatorColour(IndicatorRed);
        m_controls.setStatusCaption(*problem);
        return;
    }
    m_controls.setIndicatorToolTip(QString());
    m_client.Connect();
}

void RigLink::onDisconnectClicked()
{
    m_client.Close();
    m_controls.setIndicatorColour(IndicatorRed);
    m_controls.setStatusCaption(DisconnectedText);
}

void RigLink::onConnected()
{
    m_controls.setStatusCaption(ConnectedText(m_client.remoteHost(), m_client.remotePort()));
    m_controls.setIndicatorColour(IndicatorGreen);
}

void RigLink::onDataArrived()
{
    m_controls.setStatusCaption(ReplyPrefix + DecodeReply(m_client.GetData()));
}

void RigLink::SendStep(const QString &stepText)
{
    const RigClient::SendResult result = m_client.SendData(CommandLine(stepText));
    if (result == RigClient::SendResult::Sent)
        return;
    if (result == RigClient::SendResult::Backlogged)
        m_controls.setIndicatorToolTip(
            QStringLiteral("The rig-control program stopped reading the commands."));
    m_client.Close();
    m_controls.setIndicatorColour(IndicatorRed);
    m_controls.setStatusCaption(SendFailedText);
}

} // namespace Rig
