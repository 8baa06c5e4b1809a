#include "TerminalDesktopServices.h"

#include "DesktopOpener.h"

#include <QUrl>

TerminalDesktopServices::TerminalDesktopServices(OpenMode mode, std::FILE *out, std::FILE *err)
    : m_mode(mode)
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
