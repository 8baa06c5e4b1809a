#include "TerminalDesktopServices.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUrl>

TerminalDesktopServices::TerminalDesktopServices(OpenMode mode, std::FILE *out, std::FILE *err)
    : m_mode(mode)
    , m_out(out)
    , m_err(err)
{
}

void TerminalDesktopServices::openURL(const QUrl &url)
{
    const QByteArray encoded = url.toEncoded();
    if (m_mode == OpenMode::Print) {
        std::fwrite(encoded.constData(), 1, size_t(encoded.size()), m_out);
        std::fputc('\n', m_out);
        std::fflush(m_out);
        return;
    }
#if defined(Q_OS_MACOS)
    const QString opener = QStringLiteral("open");
#else
    const QString opener = QStringLiteral("xdg-open");
#endif
    // The opener's answer is not waited for, as with the window; only a failure to start
    // it is reported, without the URL, which carries the password.
    if (!QProcess::startDetached(opener, { QString::fromUtf8(encoded) })) {
        writeError(QCoreApplication::applicationName() + QStringLiteral(": could not start ")
            + opener + QStringLiteral(" to open the URL; --print writes it instead\n"));
        m_exitStatus = 1;
    }
}

void TerminalDesktopServices::showAlert(const QString &messageText, const QString &informativeText)
{
    QString text = messageText + QLatin1Char('\n');
    if (!informativeText.isEmpty()) {
        text += informativeText;
        if (!informativeText.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
    }
    writeError(text);
    m_exitStatus = 1;
}

void TerminalDesktopServices::writeError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_err);
    std::fflush(m_err);
}
