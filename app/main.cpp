#include "mainwindow.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zarvotel"));
    QApplication::setApplicationVersion(QStringLiteral(ZARVOTEL_VERSION));

    // One look on every desktop; the window's places and sizes are fixed in pixels.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    Window::Main window;
    window.show();
    return QApplication::exec();
}
