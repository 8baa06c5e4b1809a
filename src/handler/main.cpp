#include "CommandLine.h"
#include "PsqlCommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

void say(const QString &line)
{
    const QByteArray text = "iamlink-psql: " + line.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
}

// The desktop starts the handler in a terminal that closes when it ends: a failure waits for
// Return, so that it can be read.
int fail(const QString &reason, int status)
{
    say(reason);
    std::fputs("Press Return to close.\n", stderr);
    for (int c = 0; c != '\n' && c != EOF;)
        c = std::getchar();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    CommandLine commandLine(QStringLiteral("iamlink-psql"),
        QStringLiteral(
            "Opens a postgres:// or postgresql:// URL in psql; the desktop entry that comes with\n"
            "iamlink runs it in a terminal for postgres: links. The password leaves the URL for\n"
            "the PGPASSWORD variable, so that it appears on no command line; without one, the\n"
            "PGPASSWORD this program was given reaches psql unchanged. psql gets the URL's host\n"
            "(or list of hosts), port, user and database, and of its query only what a link may\n"
            "set: sslmode, sslrootcert, connect_timeout, application_name, client_encoding,\n"
            "target_session_attrs, keepalives, keepalives_idle, keepalives_interval,\n"
            "keepalives_count and tcp_user_timeout, matched exactly. Everything else (such as\n"
            "hostaddr, service, passfile, password, options or JDBC's DbGroups) is left out and\n"
            "named on standard error; ssl=true becomes sslmode=require. psql then replaces this\n"
            "program.\n"
            "\n"
            "Exit status: psql's own once it runs; 2 bad usage or not a postgres URL; 126 psql\n"
            "could not be started; 127 psql is not installed."));
    QCommandLineParser &parser = commandLine.parser;
    parser.addPositionalArgument(QStringLiteral("URL"), QStringLiteral("The URL to open."));
    if (!parser.parse(QCoreApplication::arguments())) {
        say(parser.errorText());
        return 2;
    }
    if (commandLine.answeredHelpOrVersion())
        return 0;
    if (parser.positionalArguments().size() != 1) {
        say(QStringLiteral("one URL expected; see --help"));
        return 2;
    }

    // Never repeated: the URL may hold a password.
    const std::optional<PsqlCommand> command
        = PsqlCommand::forURL(parser.positionalArguments().constFirst());
    if (!command)
        return fail(QStringLiteral("this is not a postgres:// or postgresql:// URL."), 2);
    for (const QString &notice : command->notices)
        say(notice);
    // Without a password in the URL, the opener's PGPASSWORD reaches psql unchanged: a password
    // may be handed over that way instead.
    if (command->password)
        qputenv("PGPASSWORD", *command->password);

    std::vector<QByteArray> arguments { "psql" };
    for (const QString &argument : command->arguments)
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char *> argvOut;
    for (QByteArray &argument : arguments)
        argvOut.push_back(argument.data());
    argvOut.push_back(nullptr);
    std::fflush(stderr);
    ::execvp("psql", argvOut.data());

    if (errno == ENOENT)
        return fail(
            QStringLiteral("psql is not installed. On Debian and Ubuntu it comes with the "
                           "package postgresql-client:\n  sudo apt install postgresql-client"),
            127);
    return fail(QStringLiteral("psql could not be started: ")
            + QString::fromLocal8Bit(std::strerror(errno)),
        126);
}
