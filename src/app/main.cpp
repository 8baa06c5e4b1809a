#include "AppDelegate.h"
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("iamlink"));
    QApplication::setApplicationVersion(QStringLiteral(IAMLINK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.iamlink.iamlink"));

    MainWindow window;
    AppDelegate delegate(window);
    window.show();
    return QApplication::exec();
}
