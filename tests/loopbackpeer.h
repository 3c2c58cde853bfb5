#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A rig-control program stand-in on 127.0.0.1 and an ephemeral port: it accepts every
// connection, keeps what each one sends, and can reply, close or reset them.
class LoopbackPeer : public QObject
{
public:
    explicit LoopbackPeer(QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            m_sockets.removeIf([](const QPointer<QTcpSocket> &socket) { return socket.isNull(); });
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_sockets << socket;
                ++m_accepted;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_received += socket->readAll();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return m_server.serverPort(); }
    void stopListening() { m_server.close(); }

    QByteArray received() const { return m_received; }
    QList<QByteArray> lines() const
    {
        QList<QByteArray> all = m_received.split('\n');
        all.removeLast(); // what follows the last line end
        for (QByteArray &line : all)
            line += '\n';
        return all;
    }
    int accepted() const { return m_accepted; }
    int open() const
    {
        int count = 0;
        for (const auto &socket : m_sockets)
            count += socket && socket->state() == QAbstractSocket::ConnectedState;
        return count;
    }

    void reply(const QByteArray &bytes)
    {
        for (const auto &socket : m_sockets) {
            if (socket) {
                socket->write(bytes);
                socket->flush();
            }
        }
    }

    // Closes every accepted connection in order (FIN).
    void closeAll()
    {
        for (const auto &socket : std::as_const(m_sockets)) {
            if (socket)
                socket->close();
        }
    }

    // Ends the sending half of every accepted connection and goes on reading.
    void halfCloseAll()
    {
        for (const auto &socket : std::as_const(m_sockets)) {
            if (socket)
                ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
        }
    }

    // Resets every accepted connection (RST): linger with a zero timeout, then close.
    void resetAll()
    {
        for (const auto &socket : std::as_const(m_sockets)) {
            if (!socket)
                continue;
            const linger hard{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            socket->abort();
        }
    }

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_sockets;
    QByteArray m_received;
    int m_accepted = 0;
};

// A port on 127.0.0.1 where nothing listens.
inline quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A plain listening socket on 127.0.0.1 and an ephemeral port, with the given backlog.
inline int listenOnLoopback(int backlog, quint16 *port, sockaddr_in *bound = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(fd, backlog);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    *port = ntohs(address.sin_port);
    if (bound)
        *bound = address;
    return fd;
}

// A listener that never accepts nor reads: the kernel completes the handshake and then
// buffers until full.
struct StalledListener
{
    quint16 port = 0;
    const int fd = listenOnLoopback(4, &port);

    ~StalledListener() { ::close(fd); }
    StalledListener() = default;
    StalledListener(const StalledListener &) = delete;
    StalledListener &operator=(const StalledListener &) = delete;
};
