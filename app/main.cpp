#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zarvotel"));
    QApplication::setApplicationVersion(QStringLiteral(ZARVOTEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Keeps a receiver tuned to a chirp sounder through a rig-control program."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rigOption(
        QStringLiteral("rig"),
        QStringLiteral("The rig-control program's protocol: hrd-text (HamRadioDeluxe's text "
                       "lines, the default), hrd (HamRadioDeluxe 5 and later), rigctld "
                       "(Hamlib) or flrig."),
        QStringLiteral("protocol"),
        QStringLiteral("hrd-text"));
    parser.addOption(rigOption);
    parser.process(app);

    const std::optional<Rig::Protocol> protocol = Rig::protocolFromOption(parser.value(rigOption));
    if (!protocol) {
        std::fprintf(stderr,
                     "zarvotel: unknown protocol \"%s\" for --rig; use hrd-text, hrd, rigctld or flrig\n",
                     qPrintable(parser.value(rigOption)));
        return 2;
    }

    // One look on every desktop; the window's places and sizes are fixed in pixels.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    Window::Main window({}, *protocol);
    window.show();
    return QApplication::exec();
}
