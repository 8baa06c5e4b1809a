#include "CommandLine.h"
#include "ConnectFlow.h"
#include "InterruptNotifier.h"
#include "TerminalDesktopServices.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

const char usageLine[] = "Usage: iamlink-cli [--print | --env | --json] [--verbose] "
                         "[--allow-host HOST]... [URL] [-- COMMAND [ARG...]]\n";

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

// Whether execvp would find `program`, so that a misspelt command costs no credentials.
bool isRunnable(const QString &program)
{
    if (program.contains(u'/')) {
        const QFileInfo file(program);
        return file.isFile() && file.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CommandLine commandLine(QStringLiteral("iamlink-cli"),
        QStringLiteral(
            "Turns a Redshift IAM URL such as\n"
            "  jdbc:redshift:iam://examplecluster.abc123.us-west-2.redshift.amazonaws.com:5439/dev"
            "?DbUser=...\n"
            "into a postgres:// URL with temporary credentials from Redshift and opens it with\n"
            "the desktop's handler; any other URL is opened as given, less a leading jdbc:.\n"
            "Without URL, or with -, the URL is read from standard input, so that keys in it\n"
            "stay out of process lists and shell history.\n"
            "\n"
            "After --, iamlink-cli becomes COMMAND (searched in PATH) with the connection in\n"
            "libpq's variables PGHOST, PGPORT, PGDATABASE, PGUSER, PGPASSWORD (and PGSSLMODE, …),\n"
            "so that the password is on no command line:\n"
            "  iamlink-cli URL -- pg_dump -Fc -f dump.pgc\n"
            "  eval \"$(iamlink-cli --env URL)\"\n"
            "\n"
            "AWS keys come from the URL (AccessKeyID, SecretAccessKey, SessionToken), a Profile\n"
            "item, AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, else the AWS_PROFILE or default\n"
            "profile of the AWS CLI's files, as the AWS CLI finds them.\n"
            "\n"
            "Exit status: 0 done, 1 an alert (printed on standard error), 2 bad usage; after --,\n"
            "COMMAND's, or 127 when it is not found.\n"
            "Environment: besides the AWS CLI's key, profile and region variables,\n"
            "AWS_ENDPOINT_URL_<SERVICE> or AWS_ENDPOINT_URL replaces an endpoint; AWS_CA_BUNDLE\n"
            "adds trusted certificates; http_proxy, https_proxy and no_proxy are honoured."));
    QCommandLineParser &parser = commandLine.parser;
    parser.addOptions({
        { QStringLiteral("print"),
            QStringLiteral("Write the URL to standard output instead of opening it.") },
        { QStringLiteral("env"),
            QStringLiteral("Write the connection as export lines for a POSIX shell's eval.") },
        { QStringLiteral("json"),
            QStringLiteral("Write the connection as one JSON object (url, host, port, database, "
                           "user, password, expiration).") },
        { QStringLiteral("verbose"),
            QStringLiteral("Tell on standard error what iamlink-cli is waiting for.") },
        { QStringLiteral("allow-host"),
            QStringLiteral(
                "Let the password go to HOST without asking, although it is not AWS's own "
                "name for the cluster (a domain name, load balancer or tunnel of yours). "
                "Repeatable."),
            QStringLiteral("HOST") },
        { QStringLiteral("no-browser"),
            QStringLiteral("Sign-ins in a browser (IAM Identity Center, SAML): write the page to "
                           "open instead of opening it.") },
    });
    parser.addPositionalArgument(QStringLiteral("URL"),
        QStringLiteral("The URL to open; - or none reads standard input."),
        QStringLiteral("[URL]"));
    parser.addPositionalArgument(QStringLiteral("COMMAND"),
        QStringLiteral("Run with the connection in its environment."),
        QStringLiteral("[-- COMMAND [ARG...]]"));

    // Everything after the first "--" is the command, options of its own included.
    QStringList arguments = QCoreApplication::arguments();
    const qsizetype dashes = arguments.indexOf(QStringLiteral("--"), 1);
    const QStringList command = dashes < 0 ? QStringList() : arguments.sliced(dashes + 1);
    if (dashes >= 0)
        arguments.resize(dashes);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (commandLine.answeredHelpOrVersion())
        return 0;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return usageError(QStringLiteral("too many arguments"));
    const bool print = parser.isSet(QStringLiteral("print")),
               env = parser.isSet(QStringLiteral("env")),
               json = parser.isSet(QStringLiteral("json")), run = dashes >= 0;
    if (int(print) + int(env) + int(json) + int(run) > 1)
        return usageError(QStringLiteral("--print, --env, --json and -- exclude each other"));
    if (run && command.isEmpty())
        return usageError(QStringLiteral("no command after --"));
    if (run && !isRunnable(command.constFirst())) {
        const QByteArray text = QCoreApplication::applicationName().toUtf8() + ": "
            + command.constFirst().toLocal8Bit() + ": command not found\n";
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        return 127;
    }

    const QString text = positional.isEmpty() || positional.first() == QLatin1String("-")
        ? readURLFromStandardInput()
        : positional.first();

    using OpenMode = TerminalDesktopServices::OpenMode;
    TerminalDesktopServices desktop(print ? OpenMode::Print
            : env                         ? OpenMode::Environment
            : json                        ? OpenMode::JSON
            : run                         ? OpenMode::Command
                                          : OpenMode::Desktop,
        parser.values(QStringLiteral("allow-host")));
    desktop.setCommand(command);
    desktop.setVerbose(parser.isSet(QStringLiteral("verbose")));
    desktop.setOpensBrowser(!parser.isSet(QStringLiteral("no-browser")));
    ConnectFlow flow(desktop);
    InterruptNotifier interrupts;
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, &flow, &ConnectFlow::cancel);

    // Inside the event loop, so that finished() always finds it running.
    QTimer::singleShot(0, &flow, [&flow, &text] { flow.openURLString(text); });
    QObject::connect(&flow, &ConnectFlow::finished, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    return desktop.finish();
}
