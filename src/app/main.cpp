#include "AppDelegate.h"
#include "CommandLine.h"
#include "MainWindow.h"
#include "SingleInstance.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Answered before the window's application starts, so that they work without a display.
    // Qt's own options (-platform, …) are known only to QApplication: unknown ones are no
    // error here.
    CommandLine commandLine(QStringLiteral("iamlink"),
        QStringLiteral(
            "The window of iamlink: paste a Redshift IAM URL and press Connect to open it with\n"
            "temporary credentials in the desktop's postgres: handler; any other URL is opened\n"
            "as given, less a leading jdbc:. iamlink-cli does the same on the command line.\n"
            "\n"
            "A URL given here (a jdbc: link clicked in a browser) is put in the field, and\n"
            "nothing connects until Connect is pressed. A window already open takes it instead:\n"
            "there is one iamlink window per user session."));
    QCommandLineParser &parser = commandLine.parser;
    parser.addPositionalArgument(QStringLiteral("URL"),
        QStringLiteral("The URL to put in the field, not yet connected."), QStringLiteral("[URL]"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    parser.parse(arguments);
    if (commandLine.answeredHelpOrVersion())
        return 0;

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("io.github.iamlink.iamlink"));
    // Qt's own options are gone from the arguments now.
    parser.parse(QApplication::arguments());
    const QString url = parser.positionalArguments().value(0);

    SingleInstance instance;
    if (instance.handOver(url))
        return 0;
    instance.listen();
    MainWindow window;
    AppDelegate delegate(window);
    if (!url.isEmpty())
        delegate.showURL(url);
    QObject::connect(&instance, &SingleInstance::received, &delegate, &AppDelegate::showURL);
    window.show();
    return QApplication::exec();
}
