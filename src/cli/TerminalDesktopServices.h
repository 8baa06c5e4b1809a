#pragma once

#include "DesktopServices.h"

#include <QStringList>

#include <csignal>
#include <cstdio>
#include <iterator>

// The desktop services of the command line: a finished URL is written to standard output,
// handed to the desktop's opener, or turned into libpq's environment variables (written for a
// shell or as JSON, or given to a command that iamlink-cli becomes); an alert goes to standard
// error and sets the exit status, a question is asked on the controlling terminal, and the
// busy state has nothing to show. A browser sign-in's instructions and page go to standard
// error, and the page to the desktop's opener unless that is turned off; a choice cannot be
// asked.
class TerminalDesktopServices : public DesktopServices {
public:
    enum class OpenMode {
        Print, // write the URL and a line break to standard output
        Desktop, // hand the URL to the desktop's opener
        Command, // run the command (setCommand) with the connection in its environment
        Environment, // write the connection as export lines for a POSIX shell
        JSON // write the connection as one JSON object
    };

    // `allowedHosts`: hosts the user allowed beforehand (--allow-host), in any letter case.
    explicit TerminalDesktopServices(OpenMode mode,
        QStringList allowedHosts = {},
        std::FILE *out = stdout,
        std::FILE *err = stderr);

    // Hands the URL on as the mode says; `expiration` is told once it is handed on.
    void openURL(
        const QUrl &url, const std::optional<QDateTime> &expiration, OpenAnswer answered) override;
    void showAlertSheet(const QString &messageText, const QString &informativeText) override;
    void setBusy(bool) override { }
    // On /dev/tty, so that it works while standard input and output are redirected; absent
    // when the process has no terminal.
    void askForText(const QString &prompt, TextAnswer answered) override;
    // On standard error, one line each, when verbose.
    void showStatus(const QString &text) override;
    // Yes for an allowed host; else asked on /dev/tty, no by default, and without a terminal
    // or on no the alert "Untrusted host".
    void confirmHost(const HostQuestion &question, ConfirmAnswer answered) override;

    void setVerbose(bool verbose) { m_verbose = verbose; }
    // The program (searched in PATH) and its arguments, for OpenMode::Command.
    void setCommand(const QStringList &command) { m_command = command; }

    void beginBrowserSignIn(const QString &instructions,
        const QUrl &url,
        bool openNow,
        std::function<void()> cancelled) override;
    // --no-browser: the user opens the page.
    void setOpensBrowser(bool opens) { m_opensBrowser = opens; }

    // 0 until an alert was shown, then 1; 126 or 127 when the command could not be run.
    int exitStatus() const { return m_exitStatus; }
    // Once the connect has ended: in the modes that need a connection, one that never came
    // (a bare word) is a failure too. Returns the exit status.
    int finish();

private:
    void writeConnection(const QUrl &url, const std::optional<QDateTime> &expiration);
    void runCommand();
    // The alert of the modes that need a connection, for `what` came instead.
    void notAConnection(const QString &what);
    // On standard error: a line, one prefixed with the program's name.
    void writeLine(const QString &text);
    void writeError(const QString &text);
    void tellExpiration(const std::optional<QDateTime> &expiration);

    OpenMode m_mode;
    QStringList m_allowedHosts;
    std::FILE *m_out;
    std::FILE *m_err;
    bool m_verbose = false;
    bool m_handedOff = false;
    QStringList m_command;
    int m_exitStatus = 0;
    bool m_opensBrowser = true;
    // The signals as they were given to us, for the command: the network code ignores
    // SIGPIPE, the interrupt notifier handles SIGINT, SIGTERM and SIGHUP (which nohup or a
    // shell's background job may have meant to be ignored).
    static constexpr int givenSignals[] = { SIGPIPE, SIGINT, SIGTERM, SIGHUP };
    struct sigaction m_givenActions[std::size(givenSignals)] = {};
};
