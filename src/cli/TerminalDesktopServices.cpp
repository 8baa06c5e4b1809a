#include "TerminalDesktopServices.h"

#include "ConnectionEnvironment.h"
#include "DesktopOpener.h"
#include "DisplayedText.h"
#include "PasswordExpiry.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

TerminalDesktopServices::TerminalDesktopServices(
    OpenMode mode, QStringList allowedHosts, std::FILE *out, std::FILE *err)
    : m_mode(mode)
    , m_allowedHosts(std::move(allowedHosts))
    , m_out(out)
    , m_err(err)
{
    for (size_t i = 0; i < std::size(givenSignals); ++i)
        ::sigaction(givenSignals[i], nullptr, &m_givenActions[i]);
}

void TerminalDesktopServices::openURL(
    const QUrl &url, const std::optional<QDateTime> &expiration, OpenAnswer answered)
{
    m_handedOff = true;
    switch (m_mode) {
    case OpenMode::Desktop:
        DesktopOpener::open(
            url, [this, expiration, answered](const std::optional<QString> &problem) {
                if (!problem)
                    tellExpiration(expiration);
                answered(problem);
            });
        return;
    case OpenMode::Print: {
        const QByteArray line = url.toEncoded() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
        std::fflush(m_out);
        tellExpiration(expiration);
        break;
    }
    default:
        writeConnection(url, expiration);
    }
    // A failure of these modes is told here, in their own words: the flow's "no application
    // opens" alert would not fit.
    answered(std::nullopt);
}

void TerminalDesktopServices::writeConnection(
    const QUrl &url, const std::optional<QDateTime> &expiration)
{
    const auto environment = ConnectionEnvironment::forURL(url);
    if (!environment) {
        notAConnection(QStringLiteral("a %1: URL").arg(url.scheme()));
        return;
    }
    if (m_mode != OpenMode::JSON && !environment->leftOut().isEmpty())
        writeError(QStringLiteral("left out what has no libpq variable: ")
            + environment->leftOut().join(QStringLiteral(", ")));
    const QByteArray text
        = m_mode == OpenMode::JSON ? environment->json(expiration) : environment->shellExports();
    if (m_mode != OpenMode::Command) {
        std::fwrite(text.constData(), 1, size_t(text.size()), m_out);
        std::fflush(m_out);
        tellExpiration(expiration);
        return;
    }
    tellExpiration(expiration);
    for (const auto &[name, value] : environment->variables())
        qputenv(name.constData(), value.toUtf8());
    runCommand();
}

void TerminalDesktopServices::runCommand()
{
    std::vector<QByteArray> arguments;
    for (const QString &argument : std::as_const(m_command))
        arguments.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(m_out);
    std::fflush(m_err);
    for (size_t i = 0; i < std::size(givenSignals); ++i)
        ::sigaction(givenSignals[i], &m_givenActions[i], nullptr);
    ::execvp(argv.front(), argv.data());
    const int error = errno;
    writeError(QStringLiteral("cannot run %1: %2")
                   .arg(m_command.constFirst(), QString::fromLocal8Bit(std::strerror(error))));
    m_exitStatus = error == ENOENT ? 127 : 126;
}

int TerminalDesktopServices::finish()
{
    if (!m_handedOff && m_exitStatus == 0 && m_mode != OpenMode::Print
        && m_mode != OpenMode::Desktop)
        notAConnection(QStringLiteral("a text without a scheme"));
    return m_exitStatus;
}

void TerminalDesktopServices::notAConnection(const QString &what)
{
    showAlertSheet(QStringLiteral("Not a PostgreSQL URL"),
        QStringLiteral("libpq's variables (--env, --json, --) come from a Redshift IAM URL or "
                       "a postgres:// URL, not from %1.")
            .arg(what));
}

void TerminalDesktopServices::showStatus(const QString &text)
{
    if (m_verbose)
        writeLine(text);
}

void TerminalDesktopServices::tellExpiration(const std::optional<QDateTime> &expiration)
{
    if (expiration)
        writeLine(passwordExpiryText(*expiration));
}

void TerminalDesktopServices::writeError(const QString &text)
{
    writeLine(QCoreApplication::applicationName() + QStringLiteral(": ") + text);
}

void TerminalDesktopServices::writeLine(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_err);
    std::fflush(m_err);
}

void TerminalDesktopServices::showAlertSheet(
    const QString &messageText, const QString &informativeText)
{
    QString text = messageText + u'\n' + informativeText;
    if (!text.endsWith(u'\n'))
        text += u'\n';
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_err);
    std::fflush(m_err);
    m_exitStatus = 1;
}

void TerminalDesktopServices::askForText(const QString &prompt, TextAnswer answered)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        answered(std::nullopt);
        return;
    }
    const QByteArray text = prompt.toUtf8() + ' ';
    [[maybe_unused]] const ssize_t written = ::write(tty, text.constData(), size_t(text.size()));
    // The terminal hands over a whole line once Return is pressed: one read takes it.
    auto *notifier = new QSocketNotifier(tty, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, tty, answered] {
        char line[1024];
        const ssize_t length = ::read(tty, line, sizeof line);
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(tty);
        if (length <= 0) {
            answered(std::nullopt);
            return;
        }
        answered(QString::fromUtf8(line, length).trimmed());
    });
}

void TerminalDesktopServices::confirmHost(const HostQuestion &question, ConfirmAnswer answered)
{
    const auto sameHost = [&question](const QString &allowed) {
        QUrl url;
        url.setHost(allowed);
        return url.host().compare(question.host, Qt::CaseInsensitive) == 0;
    };
    if (std::any_of(m_allowedHosts.cbegin(), m_allowedHosts.cend(), sameHost))
        return answered(true);
    const QString host = displayedText(question.host, 200);
    const QString target = displayedText(question.target, 200);
    askForText(QStringLiteral("%1 is not AWS's own name for %2. Send it a database password "
                              "got with your AWS keys? [y/N]")
                   .arg(host, target),
        [this, host, target, answered](const std::optional<QString> &answer) {
            if (answer
                && (answer->compare(u"y", Qt::CaseInsensitive) == 0
                    || answer->compare(u"yes", Qt::CaseInsensitive) == 0))
                return answered(true);
            showAlertSheet(QStringLiteral("Untrusted host"),
                QStringLiteral("iamlink would hand a database password got with your own AWS "
                               "keys to %1, which is not AWS's own name for %2, and nobody "
                               "confirmed it. If that host is yours (a domain name, load "
                               "balancer or tunnel for the cluster), allow it: iamlink-cli "
                               "--allow-host %1 …")
                    .arg(host, target));
            answered(false);
        });
}

void TerminalDesktopServices::beginBrowserSignIn(
    const QString &instructions, const QUrl &url, bool, std::function<void()>)
{
    // Ctrl-C cancels here as at any other step.
    const auto write = [err = m_err](const QString &text) {
        const QByteArray bytes = text.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), err);
        std::fflush(err);
    };
    write(instructions + QStringLiteral("\n  ") + QString::fromUtf8(url.toEncoded()) + u'\n');
    if (!m_opensBrowser)
        return;
    DesktopOpener::open(url, [write](const std::optional<QString> &problem) {
        if (problem)
            write(*problem + QStringLiteral(": open the page above yourself.\n"));
    });
}
