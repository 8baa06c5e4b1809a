#include "TerminalDesktopServices.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUrl>

#include <memory>

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
    const QString tellPrint = QStringLiteral("; --print writes it instead\n");
    auto process = std::make_unique<QProcess>();
    process->setProgram(opener);
    process->setArguments({ QString::fromUtf8(encoded) });
    // No terminal streams: xdg-open repeats a URL it cannot open, password included, and a
    // handler has no business reading the terminal the command line leaves behind.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted()) {
        writeError(QCoreApplication::applicationName() + QStringLiteral(": could not start ")
            + opener + QStringLiteral(" to open the URL") + tellPrint);
        m_exitStatus = 1;
        return;
    }
    // xdg-open runs the handler it finds until that ends, so an opener still running after
    // a moment has handed the URL on and is left to run; one that ends at once answered.
    if (!process->waitForFinished(openerAnswerMs)) {
        s_runningOpener = process.release();
        return;
    }
    if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0) {
        writeError(QCoreApplication::applicationName() + QStringLiteral(": ") + opener
            + QStringLiteral(" could not open the URL (exit status %1)")
                  .arg(process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1)
            + tellPrint);
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
