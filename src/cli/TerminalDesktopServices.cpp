#include "TerminalDesktopServices.h"

#include "DesktopOpener.h"
#include "DisplayedText.h"

#include <QSocketNotifier>
#include <QUrl>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

TerminalDesktopServices::TerminalDesktopServices(
    OpenMode mode, QStringList allowedHosts, std::FILE *out, std::FILE *err)
    : m_mode(mode)
    , m_allowedHosts(std::move(allowedHosts))
    , m_out(out)
    , m_err(err)
{
}

void TerminalDesktopServices::openURL(const QUrl &url, OpenAnswer answered)
{
    if (m_mode == OpenMode::Desktop) {
        DesktopOpener::open(url, std::move(answered));
        return;
    }
    const QByteArray line = url.toEncoded() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), m_out);
    std::fflush(m_out);
    answered(std::nullopt);
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
