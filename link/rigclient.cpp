// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "rigclient.h"

#include <QTcpSocket>

namespace Rig {

RigClient::RigClient(QObject *parent)
    : QObject(parent)
{}

RigClient::~RigClient()
{
    Close();
}

void RigClient::Close()
{
    if (!m_socket)
        return;
    QTcpSocket *socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

bool RigClient::Connect()
{
    Close();
    if (m_remotePort < 1 || m_remotePort > 65535)
        return false;

    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(ReadChunkBytes);
    connect(m_socket, &QTcpSocket::connected, this, &RigClient::connected);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        Q_EMIT dataArrived(m_socket->bytesAvailable());
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        Q_EMIT errorOccurred(m_socket->errorString());
    });
    // Host names are looked up asynchronously; the call returns at once.
    m_socket->connectToHost(m_remoteHost.trimmed(), quint16(m_remotePort));
    return true;
}

RigClient::SendResult RigClient::SendData(const QByteArray &bytes)
{
    // QTcpSocket would buffer a write made while still connecting; that counts as no
    // connection here, so that a send during a pending attempt fails.
    if (!isConnected())
        return SendResult::NotConnected;
    if (m_socket->bytesToWrite() + bytes.size() > MaxUnsentBytes)
        return SendResult::Backlogged;
    if (m_socket->write(bytes) != bytes.size())
        return SendResult::WriteFailed;
    return SendResult::Sent;
}

QByteArray RigClient::GetData()
{
    return m_socket ? m_socket->readAll() : QByteArray();
}

bool RigClient::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

qint64 RigClient::unsentBytes() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

} // namespace Rig
