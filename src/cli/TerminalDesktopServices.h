#pragma once

#include "DesktopServices.h"

#include <QStringList>

#include <cstdio>

// The desktop services of the command line: a finished URL is written to standard output or
// handed to the desktop's opener, an alert goes to standard error and sets the exit status,
// a question is asked on the controlling terminal, and the busy state has nothing to show. A
// browser sign-in's instructions and page go to standard error, and the page to the desktop's
// opener unless that is turned off; a choice cannot be asked.
class TerminalDesktopServices : public DesktopServices {
public:
    enum class OpenMode {
        Print, // write the URL and a line break to standard output
        Desktop // hand the URL to the desktop's opener
    };

    // `allowedHosts`: hosts the user allowed beforehand (--allow-host), in any letter case.
    explicit TerminalDesktopServices(OpenMode mode,
        QStringList allowedHosts = {},
        std::FILE *out = stdout,
        std::FILE *err = stderr);

    void openURL(const QUrl &url, OpenAnswer answered) override;
    void showAlertSheet(const QString &messageText, const QString &informativeText) override;
    void setBusy(bool) override { }
    // On /dev/tty, so that it works while standard input and output are redirected; absent
    // when the process has no terminal.
    void askForText(const QString &prompt, TextAnswer answered) override;
    // Yes for an allowed host; else asked on /dev/tty, no by default, and without a terminal
    // or on no the alert "Untrusted host".
    void confirmHost(const HostQuestion &question, ConfirmAnswer answered) override;

    void beginBrowserSignIn(const QString &instructions,
        const QUrl &url,
        bool openNow,
        std::function<void()> cancelled) override;
    // --no-browser: the user opens the page.
    void setOpensBrowser(bool opens) { m_opensBrowser = opens; }

    // 0 until an alert was shown, then 1.
    int exitStatus() const { return m_exitStatus; }

private:
    OpenMode m_mode;
    QStringList m_allowedHosts;
    std::FILE *m_out;
    std::FILE *m_err;
    int m_exitStatus = 0;
    bool m_opensBrowser = true;
};
