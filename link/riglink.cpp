// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "riglink.h"

namespace Rig {

RigLink::RigLink(LinkControls &controls,
                 RigClient &client,
                 Protocol protocol,
                 ReconnectPolicy reconnect,
                 QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_client(client)
    , m_program(rigProgram(protocol))
    , m_reconnect(reconnect)
    , m_conversation(newConversation(protocol))
{
    connect(&m_client, &RigClient::connected, this, &RigLink::onConnected);
    connect(&m_client, &RigClient::dataArrived, this, &RigLink::onDataArrived);
    connect(&m_client, &RigClient::errorOccurred, this, &RigLink::onClientError);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &RigLink::onConnectClicked);
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    m_replyTimer.setInterval(ReplyTimeoutMs);
    connect(&m_replyTimer, &QTimer::timeout, this, &RigLink::onReplyTimeout);
}

RigLink::~RigLink() = default;

void RigLink::onConnectClicked()
{
    closeLink();
    m_retryTimer.stop();
    m_reconnect.armed();
    m_client.setRemoteHost(m_controls.hostText());
    const QString portText = m_controls.portText();
    const std::optional<qint32> port = PortFromText(portText);
    if (port)
        m_client.setRemotePort(*port);

    if (const auto problem = ConnectProblem(m_client.remoteHost(), portText, port)) {
        m_reconnect.disarmed(); // trying again cannot mend the host or the port
        m_controls.setIndicatorColour(IndicatorRed);
        m_controls.setStatusText(*problem);
        return;
    }
    if (const QString at = m_client.remoteHost().trimmed() + u':' + QString::number(*port);
        at != m_unknownAt) {
        m_unknown.clear();
        m_unknownAt = at;
    }
    m_conversation = m_program.newConversation(m_client.remoteHost(), quint16(*port));
    m_controls.setIndicatorToolTip(QString());
    // A refused attempt may be reported from within Connect (it is under Wine).
    enter(State::Connecting);
    m_client.Connect();
}

void RigLink::onDisconnectClicked()
{
    m_reconnect.disarmed();
    m_retryTimer.stop();
    m_unknown.clear();
    dropLink();
    m_controls.setStatusCaption(DisconnectedText);
}

void RigLink::onConnected()
{
    m_controls.setStatusCaption(ConnectedText(m_client.remoteHost(), m_client.remotePort()));
    m_controls.setIndicatorColour(IndicatorGreen);
    m_received.clear();
    m_sentHz = 0;
    m_sidebandSent = false;
    enter(State::Ready);
    if (m_program.awaitsAnswers) {
        if (const QByteArray opening = m_conversation->opening(); !opening.isEmpty())
            request(opening, State::Opening);
        else
            sendWanted();
    }
    if (m_client.isConnected())
        Q_EMIT linkEstablished();
}

void RigLink::onDataArrived()
{
    m_received += m_client.GetData();
    if (m_program.awaitsAnswers)
        return takeAnswers();
    // Replies to the plain lines are only shown.
    const Answer answer = m_conversation->takeAnswer(m_received);
    if (const auto *reply = std::get_if<Reply>(&answer))
        m_controls.setStatusCaption(ReplyPrefix + reply->text);
}

void RigLink::onClientError(const QString &text)
{
    m_controls.setIndicatorToolTip(text);
    // The connection ends while a request the conversation can go without awaits its answer:
    // the program closed it on a command it does not know.
    if ((m_state == State::Opening || m_state == State::Sideband)
        && !m_unknown.contains(m_lastRequest)
        && m_conversation->unanswered(m_state == State::Sideband))
        m_unknown << m_lastRequest;
    // A refused attempt or a lost connection shows nothing by itself, unless it is to be
    // tried again.
    if (m_reconnect.triesAgain() && m_state != State::Closed && m_state != State::WaitingRetry)
        linkLost();
}

void RigLink::onReplyTimeout()
{
    const QString unanswered = QString::fromLatin1(m_lastRequest.trimmed());
    if (goWithoutAnswer(m_state))
        return m_controls.setIndicatorToolTip(
            QStringLiteral("%1 did not answer \"%2\"; Zarvotel goes on without it.")
                .arg(programName(protocol()), unanswered));
    m_controls.setIndicatorToolTip(
        QStringLiteral("%1 did not answer within two seconds.").arg(programName(protocol())));
    sendFailed();
}

void RigLink::takeAnswers()
{
    while (m_client.isConnected()) {
        if (m_state == State::Unusable) {
            m_received.clear(); // nothing more is asked on this connection
            return;
        }
        const bool sideband = m_state == State::Sideband;
        const Answer answer = sideband ? m_conversation->takeSidebandAnswer(m_received)
                                       : m_conversation->takeAnswer(m_received);
        if (std::holds_alternative<Incomplete>(answer))
            return;
        if (std::holds_alternative<Malformed>(answer)) {
            m_controls.setIndicatorToolTip(
                QStringLiteral("%1 sent something that is not an answer.")
                    .arg(programName(protocol())));
            return sendFailed();
        }
        m_replyTimer.stop();
        enter(State::Ready);
        answered(answer, sideband);
    }
}

void RigLink::answered(const Answer &answer, bool sideband)
{
    if (sideband)
        return sidebandAnswered(answer);
    if (const auto *next = std::get_if<SetupNext>(&answer)) {
        if (next->request.isEmpty())
            sendWanted();
        else
            request(next->request, State::Opening);
    } else if (const auto *unusable = std::get_if<Unusable>(&answer)) {
        // Nothing more goes out on this connection; Connect tries again.
        enter(State::Unusable);
        m_controls.setStatusText({unusable->caption, unusable->whole});
    } else {
        const Reply &reply = std::get<Reply>(answer);
        if (reply.tuned)
            m_controls.setStatusCaption(ReplyPrefix + reply.text);
        else
            m_controls.setStatusText({reply.text, reply.whole});
        sendWanted();
    }
}

void RigLink::SendStep(qint32 stepHz)
{
    m_wantedHz = stepHz;
    // While the link waits to try again, or a new attempt of its own is under way, a send
    // would only abandon it; the newest step goes out once it is up.
    if (m_state == State::WaitingRetry
        || (m_state == State::Connecting && m_reconnect.triesAgain()))
        return;
    if (!m_program.awaitsAnswers) {
        const RigClient::SendResult result = m_client.SendData(m_conversation->stepCommand(stepHz));
        if (result != RigClient::SendResult::Sent)
            sendFailed(result);
        return;
    }
    if (!m_client.isConnected())
        return sendFailed();
    sendWanted();
}

void RigLink::setSidebandWanted(bool wanted)
{
    if (wanted == m_sidebandWanted)
        return;
    m_sidebandWanted = wanted;
    m_sidebandSent = false;
    if (m_program.awaitsAnswers)
        sendWanted();
}

void RigLink::sendWanted()
{
    if (m_state != State::Ready || !m_client.isConnected())
        return;
    if (m_wantedHz != 0 && m_wantedHz != m_sentHz) {
        m_sentHz = m_wantedHz;
        return request(m_conversation->stepCommand(m_wantedHz), State::Awaiting);
    }
    // The step of the moment goes first on every connection; the sideband follows its answer.
    if (!m_sidebandWanted || m_sidebandSent || m_sentHz == 0)
        return;
    m_sidebandSent = true;
    if (const QByteArray command = m_conversation->sidebandCommand(); !command.isEmpty())
        request(command, State::Sideband);
}

void RigLink::sidebandAnswered(const Answer &answer)
{
    if (const auto *next = std::get_if<SetupNext>(&answer); next && !next->request.isEmpty())
        return request(next->request, State::Sideband);
    if (const auto *reply = std::get_if<Reply>(&answer); reply && !reply->tuned)
        Q_EMIT sidebandRefused(reply->whole.isEmpty() ? reply->text : reply->whole);
    sendWanted();
}

bool RigLink::goWithoutAnswer(State awaiting)
{
    const bool sideband = awaiting == State::Sideband;
    if (awaiting != State::Opening && !sideband)
        return false;
    const std::optional<Answer> answer = m_conversation->unanswered(sideband);
    if (!answer)
        return false;
    m_replyTimer.stop();
    enter(State::Ready);
    answered(*answer, sideband);
    return true;
}

void RigLink::request(const QByteArray &bytes, State awaiting)
{
    m_lastRequest = bytes;
    if (m_unknown.contains(bytes) && goWithoutAnswer(awaiting))
        return;
    if (const auto result = m_client.SendData(bytes); result != RigClient::SendResult::Sent)
        return sendFailed(result);
    enter(awaiting);
    m_replyTimer.start();
}

void RigLink::sendFailed(RigClient::SendResult result)
{
    if (result == RigClient::SendResult::Backlogged)
        m_controls.setIndicatorToolTip(
            QStringLiteral("The rig-control program stopped reading the commands."));
    if (m_reconnect.triesAgain())
        return linkLost(); // the same recovery, and a new attempt
    dropLink();
    m_controls.setStatusCaption(sendFailedText(protocol()));
}

void RigLink::linkLost()
{
    dropLink();
    enter(State::WaitingRetry);
    const QString name = programName(protocol());
    const int seconds = m_reconnect.seconds();
    m_controls.setStatusText(
        {QStringLiteral("%1 needs to be running. Retry in %2 s.").arg(name).arg(seconds),
         sendFailedText(protocol()) + QStringLiteral(" Trying again in %1 s.").arg(seconds)});
    m_retryTimer.start(seconds * 1000);
}

void RigLink::dropLink()
{
    closeLink();
    m_controls.setIndicatorColour(IndicatorRed);
}

void RigLink::closeLink()
{
    m_client.Close();
    m_received.clear();
    m_sentHz = 0;
    m_sidebandSent = false;
    m_replyTimer.stop();
    enter(State::Closed);
}

} // namespace Rig
