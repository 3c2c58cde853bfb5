// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "riglink.h"

namespace Rig {

RigLink::RigLink(LinkControls &controls, RigClient &client, Protocol protocol, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_client(client)
    , m_protocol(protocol)
    , m_conversation(newConversation(protocol))
{
    connect(&m_client, &RigClient::connected, this, &RigLink::onConnected);
    connect(&m_client, &RigClient::dataArrived, this, &RigLink::onDataArrived);
    connect(&m_client, &RigClient::errorOccurred, this, [this](const QString &text) {
        m_controls.setIndicatorToolTip(text);
        if (m_retrying)
            linkDown();
    });
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &RigLink::onConnectClicked);
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    m_replyTimer.setInterval(ReplyTimeoutMs);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        m_controls.setIndicatorToolTip(
            QStringLiteral("%1 did not answer within two seconds.").arg(programName(m_protocol)));
        sendFailed();
    });
}

RigLink::~RigLink() = default;

void RigLink::onConnectClicked()
{
    m_client.Close();
    forgetConversation();
    m_retryTimer.stop();
    m_retrying = m_reconnectSeconds > 0;
    m_client.setRemoteHost(m_controls.hostText());
    const QString portText = m_controls.portText();
    const std::optional<qint32> port = PortFromText(portText);
    if (port)
        m_client.setRemotePort(*port);

    if (const auto problem = ConnectProblem(m_client.remoteHost(), portText, port)) {
        m_retrying = m_down = false; // trying again cannot mend the host or the port
        m_controls.setIndicatorColour(IndicatorRed);
        m_controls.setStatusCaption(*problem);
        return;
    }
    m_conversation = newConversation(m_protocol, m_client.remoteHost(), quint16(*port));
    m_controls.setIndicatorToolTip(QString());
    m_client.Connect();
}

void RigLink::onDisconnectClicked()
{
    m_retrying = m_down = false;
    m_retryTimer.stop();
    dropLink(DisconnectedText);
}

void RigLink::onConnected()
{
    m_controls.setStatusCaption(ConnectedText(m_client.remoteHost(), m_client.remotePort()));
    m_controls.setIndicatorColour(IndicatorGreen);
    m_down = false;
    if (paced()) {
        forgetConversation();
        const QByteArray opening = m_conversation->opening();
        if (opening.isEmpty()) {
            m_ready = true;
            sendWanted();
        } else {
            send(opening);
        }
    }
    if (m_client.isConnected())
        Q_EMIT linkEstablished();
}

void RigLink::onDataArrived()
{
    m_received += m_client.GetData();
    if (paced())
        return takeAnswers();
    // Replies to the plain lines are only shown.
    const Answer answer = m_conversation->takeAnswer(m_received);
    if (const auto *reply = std::get_if<Reply>(&answer))
        m_controls.setStatusCaption(ReplyPrefix + reply->text);
}

void RigLink::takeAnswers()
{
    while (m_client.isConnected()) {
        const Answer answer = m_conversation->takeAnswer(m_received);
        if (std::holds_alternative<Incomplete>(answer))
            return;
        if (std::holds_alternative<Malformed>(answer)) {
            m_controls.setIndicatorToolTip(
                QStringLiteral("%1 sent something that is not an answer.")
                    .arg(programName(m_protocol)));
            return sendFailed();
        }
        m_inFlight = false;
        m_replyTimer.stop();
        if (const auto *next = std::get_if<SetupNext>(&answer)) {
            if (next->request.isEmpty()) {
                m_ready = true;
                sendWanted();
            } else {
                send(next->request);
            }
        } else if (const auto *unusable = std::get_if<Unusable>(&answer)) {
            // Nothing more goes out on this connection; Connect tries again.
            m_unusable = true;
            m_controls.setStatusCaption(unusable->text);
        } else {
            const Reply &reply = std::get<Reply>(answer);
            m_controls.setStatusCaption(reply.tuned ? ReplyPrefix + reply.text : reply.text);
            sendWanted();
        }
    }
}

void RigLink::SendStep(qint32 stepHz)
{
    // While a new attempt is waited for or under way, a send would only abandon it.
    if (m_down)
        return;
    if (!paced()) {
        const RigClient::SendResult result = m_client.SendData(m_conversation->stepCommand(stepHz));
        if (result != RigClient::SendResult::Sent)
            sendFailed(result);
        return;
    }
    m_wantedHz = stepHz;
    if (!m_client.isConnected())
        return sendFailed();
    sendWanted();
}

void RigLink::sendWanted()
{
    if (m_inFlight || !m_ready || m_unusable || m_wantedHz == 0 || m_wantedHz == m_sentHz
        || !m_client.isConnected())
        return;
    m_sentHz = m_wantedHz;
    send(m_conversation->stepCommand(m_wantedHz));
}

void RigLink::send(const QByteArray &request)
{
    if (const auto result = m_client.SendData(request); result != RigClient::SendResult::Sent)
        return sendFailed(result);
    m_inFlight = true;
    m_replyTimer.start();
}

void RigLink::sendFailed(RigClient::SendResult result)
{
    if (result == RigClient::SendResult::Backlogged)
        m_controls.setIndicatorToolTip(
            QStringLiteral("The rig-control program stopped reading the commands."));
    if (m_retrying)
        return linkDown(); // the same recovery, and a new attempt
    dropLink(sendFailedText(m_protocol));
}

void RigLink::linkDown()
{
    m_down = true;
    dropLink(sendFailedText(m_protocol)
             + QStringLiteral(" Trying again in %1 s.").arg(m_reconnectSeconds));
    m_retryTimer.start(m_reconnectSeconds * 1000);
}

void RigLink::dropLink(const QString &status)
{
    m_client.Close();
    forgetConversation();
    m_controls.setIndicatorColour(IndicatorRed);
    m_controls.setStatusCaption(status);
}

void RigLink::forgetConversation()
{
    m_inFlight = false;
    m_ready = false;
    m_unusable = false;
    m_sentHz = 0;
    m_received.clear();
    m_replyTimer.stop();
}

} // namespace Rig
