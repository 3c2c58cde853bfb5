// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace Rig {

// The TCP client to the rig-control program. Connect returns at once; a send never blocks
// and fails unless a connection is established. After Close no signal of the closed
// connection arrives.
class RigClient : public QObject
{
    Q_OBJECT

public:
    // Bytes that may wait unsent (about two minutes of commands); a send beyond it fails.
    static constexpr qint64 MaxUnsentBytes = 32 * 1024;
    // Bytes read from the socket at a time, so that a flood of replies cannot stall ticks.
    static constexpr qint64 ReadChunkBytes = 16 * 1024;

    enum class SendResult { Sent, NotConnected, Backlogged, WriteFailed };
    Q_ENUM(SendResult)

    explicit RigClient(QObject *parent = nullptr);
    ~RigClient() override;

    // Ends the connection or a pending attempt; never fails.
    void Close();

    void setRemoteHost(const QString &host) { m_remoteHost = host; }
    QString remoteHost() const { return m_remoteHost; }
    void setRemotePort(qint32 port) { m_remotePort = port; }
    qint32 remotePort() const { return m_remotePort; }

    // Starts a connection to the remote host (without its surrounding blanks) and port and
    // returns at once. Returns false, and starts nothing, when the port is not 1 to 65535.
    bool Connect();

    SendResult SendData(const QByteArray &bytes);

    // Everything received and not yet read.
    QByteArray GetData();

    bool isConnected() const;
    qint64 unsentBytes() const;

Q_SIGNALS:
    void connected();
    void dataArrived(qint64 bytes);
    // The socket's own words for a failed attempt or a broken connection.
    void errorOccurred(const QString &text);

private:
    QTcpSocket *m_socket = nullptr;
    QString m_remoteHost;
    qint32 m_remotePort = 0;
};

} // namespace Rig
