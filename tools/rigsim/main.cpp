// rigsim: a stand-in for the rig-control program. Listens on 127.0.0.1, prints every line
// it receives with the time it arrived, and answers each line with a short reply.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rigsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Listens like a rig-control program and prints what it is told."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (default 7809)."),
                                        QStringLiteral("port"),
                                        QStringLiteral("7809"));
    const QCommandLineOption replyOption(QStringLiteral("reply"),
                                         QStringLiteral("Reply to each line (default OK)."),
                                         QStringLiteral("text"),
                                         QStringLiteral("OK"));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
                                          QStringLiteral("Do not reply."));
    parser.addOptions({portOption, replyOption, silentOption});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        std::fprintf(stderr, "rigsim: --port takes a number from 1 to 65535\n");
        return 2;
    }
    const QByteArray reply = parser.isSet(silentOption)
                                 ? QByteArray()
                                 : parser.value(replyOption).toUtf8() + "\r\n";

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        std::fprintf(stderr, "rigsim: cannot listen on 127.0.0.1:%u: %s\n", port,
                     qPrintable(server.errorString()));
        return 1;
    }
    std::printf("rigsim listening on 127.0.0.1:%u\n", port);
    std::fflush(stdout);

    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            std::printf("%s connected %s:%u\n",
                        qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                        qPrintable(socket->peerAddress().toString()), socket->peerPort());
            std::fflush(stdout);
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket] {
                std::printf("%s disconnected\n",
                            qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))));
                std::fflush(stdout);
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine().trimmed();
                    std::printf("%s %s\n",
                                qPrintable(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                                line.constData());
                    if (!reply.isEmpty())
                        socket->write(reply);
                }
                std::fflush(stdout);
                // A line that never ends is not kept for ever.
                if (socket->bytesAvailable() > 4096)
                    socket->readAll();
            });
        }
    });
    return QCoreApplication::exec();
}
