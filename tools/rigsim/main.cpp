// rigsim: a stand-in for the rig-control program. Listens on 127.0.0.1, prints every
// command it receives with the time it arrived, and answers each as the program would.

#include "rigprotocols.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>

#include <cstdio>

namespace {

void say(const QString &text)
{
    std::printf("%s %s\n", qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                qPrintable(text));
    std::fflush(stdout);
}

struct Options
{
    Rig::Protocol protocol = Rig::Protocol::HrdText;
    QByteArray reply; // empty: answer nothing
};

// One connection: takes the commands from the stream and answers them.
class Conversation : public QObject
{
public:
    Conversation(QTcpSocket *socket, const Options &options)
        : QObject(socket)
        , m_socket(socket)
        , m_options(options)
    {
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_buffer += m_socket->readAll();
            take();
        });
    }

private:
    void answer(const QByteArray &bytes)
    {
        if (!m_options.reply.isEmpty())
            m_socket->write(bytes);
    }

    void take()
    {
        switch (m_options.protocol) {
        case Rig::Protocol::HrdText:
            while (m_buffer.contains('\n')) {
                const qsizetype end = m_buffer.indexOf('\n');
                say(QString::fromUtf8(m_buffer.left(end).trimmed()));
                m_buffer.remove(0, end + 1);
                answer(m_options.reply + "\r\n");
            }
            break;
        case Rig::Protocol::Hrd:
            for (;;) {
                const auto frame = Rig::takeHrdFrame(m_buffer);
                if (std::holds_alternative<Rig::Malformed>(frame))
                    return drop(QStringLiteral("a frame with a bad header"));
                if (!std::holds_alternative<QString>(frame))
                    break;
                const QString text = std::get<QString>(frame);
                say(text);
                answer(Rig::hrdFrame(text == u"get context" ? QStringLiteral("1")
                                                            : QString::fromUtf8(m_options.reply)));
            }
            break;
        case Rig::Protocol::Rigctld:
            while (m_buffer.contains('\n')) {
                const qsizetype end = m_buffer.indexOf('\n');
                const QByteArray line = m_buffer.left(end).trimmed();
                m_buffer.remove(0, end + 1);
                say(QString::fromUtf8(line));
                if (line.startsWith("F ")) {
                    m_frequency = line.mid(2).trimmed();
                    answer("RPRT 0\n");
                } else if (line == "f") {
                    answer(m_frequency + '\n');
                } else {
                    answer("RPRT -11\n");
                }
            }
            break;
        case Rig::Protocol::Flrig:
            for (;;) {
                const auto message = Rig::takeHttpMessage(m_buffer);
                if (std::holds_alternative<Rig::Malformed>(message))
                    return drop(QStringLiteral("a request that is not HTTP"));
                if (!std::holds_alternative<Rig::HttpMessage>(message))
                    break;
                const QByteArray &body = std::get<Rig::HttpMessage>(message).body;
                const qsizetype start = body.indexOf("<double>") + 8;
                const qsizetype end = body.indexOf("</double>");
                say(QStringLiteral("rig.set_frequency ")
                    + QString::fromUtf8(start >= 8 && end > start ? body.mid(start, end - start)
                                                                  : body));
                const QByteArray xml = "<?xml version=\"1.0\"?><methodResponse><params><param>"
                                       "<value><i4>1</i4></value></param></params></methodResponse>";
                answer("HTTP/1.1 200 OK\r\nServer: rigsim\r\nContent-Type: text/xml\r\n"
                       "Content-Length: "
                       + QByteArray::number(xml.size()) + "\r\n\r\n" + xml);
            }
            break;
        }
        // A command that never ends is not kept for ever.
        if (m_buffer.size() > Rig::MaxReplyBytes)
            drop(QStringLiteral("more than 64 KiB without a whole command"));
    }

    void drop(const QString &why)
    {
        say(QStringLiteral("closing the connection: ") + why);
        m_socket->abort();
    }

    QTcpSocket *m_socket;
    const Options &m_options;
    QByteArray m_buffer;
    QByteArray m_frequency = "0";
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rigsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Listens like a rig-control program and prints what it is told."));
    parser.addHelpOption();
    const QCommandLineOption rigOption(QStringLiteral("rig"),
                                       QStringLiteral("Protocol: hrd-text (default), hrd, rigctld or flrig."),
                                       QStringLiteral("protocol"),
                                       QStringLiteral("hrd-text"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (default: the protocol's)."),
                                        QStringLiteral("port"));
    const QCommandLineOption replyOption(QStringLiteral("reply"),
                                         QStringLiteral("Reply to each command (default OK)."),
                                         QStringLiteral("text"),
                                         QStringLiteral("OK"));
    const QCommandLineOption silentOption(QStringLiteral("silent"), QStringLiteral("Do not reply."));
    parser.addOptions({rigOption, portOption, replyOption, silentOption});
    parser.process(app);

    Options options;
    const auto protocol = Rig::protocolFromOption(parser.value(rigOption));
    if (!protocol) {
        std::fprintf(stderr, "rigsim: --rig takes hrd-text, hrd, rigctld or flrig\n");
        return 2;
    }
    options.protocol = *protocol;
    options.reply = parser.isSet(silentOption) ? QByteArray() : parser.value(replyOption).toUtf8();

    bool ok = true;
    const uint port = parser.isSet(portOption) ? parser.value(portOption).toUInt(&ok)
                                               : Rig::defaultPort(*protocol);
    if (!ok || port < 1 || port > 65535) {
        std::fprintf(stderr, "rigsim: --port takes a number from 1 to 65535\n");
        return 2;
    }

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "rigsim: cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(server.errorString()));
        return 1;
    }
    std::printf("rigsim listening on 127.0.0.1:%u as %s\n", port,
                qPrintable(Rig::protocolOption(*protocol)));
    std::fflush(stdout);

    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            say(QStringLiteral("connected %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket] {
                say(QStringLiteral("disconnected"));
                socket->deleteLater();
            });
            new Conversation(socket, options);
        }
    });
    return QCoreApplication::exec();
}
