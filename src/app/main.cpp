#include "AppDelegate.h"
#include "MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("iamlink"));
    QApplication::setApplicationVersion(QStringLiteral(IAMLINK_VERSION));

    // Answered before the window's application starts, so that they work without a display.
    // Qt's own options (-platform, …) are known only to QApplication: unknown ones are no
    // error here.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The window of iamlink: paste a Redshift IAM URL and press Connect to open it with\n"
        "temporary credentials in the desktop's postgres: handler; any other URL is opened\n"
        "as given, less a leading jdbc:. iamlink-cli does the same on the command line."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    parser.parse(arguments);
    const bool help = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    if (help || parser.isSet(versionOption)) {
        // Without an application object Qt cannot name the executable.
        const QString text = help
            ? parser.helpText().replace(QStringLiteral("<executable_name>"), arguments.first())
            : QApplication::applicationName() + u' ' + QApplication::applicationVersion() + u'\n';
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("io.github.iamlink.iamlink"));

    MainWindow window;
    AppDelegate delegate(window);
    window.show();
    return QApplication::exec();
}
