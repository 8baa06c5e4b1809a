#include "ConnectFlow.h"
#include "InterruptNotifier.h"
#include "TerminalDesktopServices.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

const char usageLine[] = "Usage: iamlink-cli [--print] [--allow-host HOST]... [URL]\n";

int usageError(const QString &reason)
{
    const QByteArray text
        = QCoreApplication::applicationName().toUtf8() + ": " + reason.toUtf8() + "\n" + usageLine;
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    return 2;
}

// The URL from standard input, less one trailing line break. From a terminal one line is
// read, so Return ends the input; from a pipe or file, everything.
QString readURLFromStandardInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        return {};
    QByteArray bytes = ::isatty(STDIN_FILENO) ? input.readLine() : input.readAll();
    if (bytes.endsWith("\r\n"))
        bytes.chop(2);
    else if (bytes.endsWith('\n'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iamlink-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IAMLINK_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Turns a Redshift IAM URL such as\n"
        "  jdbc:redshift:iam://examplecluster.abc123.us-west-2.redshift.amazonaws.com:5439/dev"
        "?DbUser=...\n"
        "into a postgres:// URL with temporary credentials from Redshift and opens it with\n"
        "the desktop's handler; any other URL is opened as given, less a leading jdbc:.\n"
        "Without URL, or with -, the URL is read from standard input, so that keys in it\n"
        "stay out of process lists and shell history.\n"
        "\n"
        "AWS keys come from the URL (AccessKeyID, SecretAccessKey, SessionToken), a Profile\n"
        "item, AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, else the AWS_PROFILE or default\n"
        "profile of the AWS CLI's files, as the AWS CLI finds them.\n"
        "\n"
        "Exit status: 0 done, 1 an alert (printed on standard error), 2 bad usage.\n"
        "Environment: besides the AWS CLI's key, profile and region variables,\n"
        "AWS_ENDPOINT_URL_<SERVICE> or AWS_ENDPOINT_URL replaces an endpoint; AWS_CA_BUNDLE\n"
        "adds trusted certificates; http_proxy, https_proxy and no_proxy are honoured."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption printOption(QStringLiteral("print"),
        QStringLiteral("Write the URL to standard output instead of opening it."));
    parser.addOption(printOption);
    const QCommandLineOption allowHostOption(QStringLiteral("allow-host"),
        QStringLiteral("Let the password go to HOST without asking, although it is not AWS's own "
                       "name for the cluster (a domain name, load balancer or tunnel of yours). "
                       "Repeatable."),
        QStringLiteral("HOST"));
    parser.addOption(allowHostOption);
    const QCommandLineOption noBrowserOption(QStringLiteral("no-browser"),
        QStringLiteral("Sign-ins in a browser (IAM Identity Center, SAML): write the page to "
                       "open instead of opening it."));
    parser.addOption(noBrowserOption);
    parser.addPositionalArgument(QStringLiteral("URL"),
        QStringLiteral("The URL to open; - or none reads standard input."),
        QStringLiteral("[URL]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return usageError(QStringLiteral("too many arguments"));

    const QString text = positional.isEmpty() || positional.first() == QLatin1String("-")
        ? readURLFromStandardInput()
        : positional.first();

    TerminalDesktopServices desktop(parser.isSet(printOption)
            ? TerminalDesktopServices::OpenMode::Print
            : TerminalDesktopServices::OpenMode::Desktop,
        parser.values(allowHostOption));
    desktop.setOpensBrowser(!parser.isSet(noBrowserOption));
    ConnectFlow flow(desktop);
    InterruptNotifier interrupts;
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, &flow, &ConnectFlow::cancel);

    // Inside the event loop, so that finished() always finds it running.
    QTimer::singleShot(0, &flow, [&flow, &text] { flow.openURLString(text); });
    QObject::connect(&flow, &ConnectFlow::finished, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    return desktop.exitStatus();
}
