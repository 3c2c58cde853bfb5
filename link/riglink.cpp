#include "riglink.h"

#include "protocol.h"

namespace Rig {

RigLink::RigLink(LinkControls &controls, RigClient &client, Protocol protocol, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_client(client)
    , m_protocol(protocol)
{
    connect(&m_client, &RigClient::connected, this, &RigLink::onConnected);
    connect(&m_client, &RigClient::dataArrived, this, &RigLink::onDataArrived);
    connect(&m_client, &RigClient::errorOccurred, this, [this](const QString &text) {
        m_controls.setIndicatorToolTip(text);
    });
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    m_replyTimer.setInterval(ReplyTimeoutMs);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        m_controls.setIndicatorToolTip(
            QStringLiteral("%1 did not answer within two seconds.").arg(programName(m_protocol)));
        sendFailed();
    });
}

void RigLink::onConnectClicked()
{
    m_client.Close();
    forgetCommands();
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
    forgetCommands();
    m_controls.setIndicatorColour(IndicatorRed);
    m_controls.setStatusCaption(DisconnectedText);
}

void RigLink::onConnected()
{
    m_controls.setStatusCaption(ConnectedText(m_client.remoteHost(), m_client.remotePort()));
    m_controls.setIndicatorColour(IndicatorGreen);
    if (!paced())
        return;
    forgetCommands();
    if (m_protocol == Protocol::Hrd) {
        if (m_client.SendData(hrdFrame(QStringLiteral("get context"))) != RigClient::SendResult::Sent)
            return sendFailed();
        m_inFlight = InFlight::Context;
        m_replyTimer.start();
    } else {
        sendWanted();
    }
}

void RigLink::onDataArrived()
{
    if (!paced()) {
        m_controls.setStatusCaption(ReplyPrefix + DecodeReply(m_client.GetData()));
        return;
    }
    m_received += m_client.GetData();
    takeReplies();
}

void RigLink::takeReplies()
{
    for (;;) {
        const ReplyParse parse = takeReply(m_protocol, m_received);
        if (std::holds_alternative<Incomplete>(parse))
            return;
        if (std::holds_alternative<Malformed>(parse)) {
            m_controls.setIndicatorToolTip(
                QStringLiteral("%1 sent something that is not a reply.").arg(programName(m_protocol)));
            return sendFailed();
        }
        const Reply &reply = std::get<Reply>(parse);
        const InFlight answered = std::exchange(m_inFlight, InFlight::Nothing);
        m_replyTimer.stop();
        if (answered == InFlight::Context)
            m_context = reply.raw.trimmed();
        else
            m_controls.setStatusCaption(reply.tuned ? ReplyPrefix + reply.text : reply.text);
        sendWanted();
        if (!m_client.isConnected())
            return;
    }
}

void RigLink::SendStep(const QString &stepText)
{
    if (!paced()) {
        const RigClient::SendResult result = m_client.SendData(CommandLine(stepText));
        if (result != RigClient::SendResult::Sent)
            sendFailed(result);
        return;
    }
    m_wantedStep = stepText;
    if (!m_client.isConnected())
        return sendFailed();
    sendWanted();
}

void RigLink::sendWanted()
{
    if (m_inFlight != InFlight::Nothing || m_wantedStep.isEmpty() || m_wantedStep == m_sentStep
        || !m_client.isConnected())
        return;
    const QByteArray command = setFrequencyCommand(m_protocol,
                                                   m_wantedStep.toInt(),
                                                   m_context,
                                                   m_client.remoteHost(),
                                                   quint16(m_client.remotePort()));
    if (const auto result = m_client.SendData(command); result != RigClient::SendResult::Sent)
        return sendFailed(result);
    m_sentStep = m_wantedStep;
    m_inFlight = InFlight::Step;
    m_replyTimer.start();
}

void RigLink::sendFailed(RigClient::SendResult result)
{
    if (result == RigClient::SendResult::Backlogged)
        m_controls.setIndicatorToolTip(
            QStringLiteral("The rig-control program stopped reading the commands."));
    m_client.Close();
    forgetCommands();
    m_controls.setIndicatorColour(IndicatorRed);
    m_controls.setStatusCaption(sendFailedText(m_protocol));
}

void RigLink::forgetCommands()
{
    m_inFlight = InFlight::Nothing;
    m_sentStep.clear();
    m_context.clear();
    m_received.clear();
    m_replyTimer.stop();
}

} // namespace Rig
