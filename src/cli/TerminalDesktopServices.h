#pragma once

#include "DesktopServices.h"

#include <cstdio>

class QProcess;

// The desktop services of the command line: a finished URL is written to standard output
// or handed to the desktop's opener, an alert goes to standard error and sets the exit
// status, and the busy state has nothing to show.
class TerminalDesktopServices : public DesktopServices {
public:
    enum class OpenMode {
        Print, // write the URL and a line break to standard output
        Desktop // hand the URL to the desktop's opener (xdg-open, or open on macOS)
    };

    explicit TerminalDesktopServices(
        OpenMode mode, std::FILE *out = stdout, std::FILE *err = stderr);

    void openURL(const QUrl &url) override;
    void showAlert(const QString &messageText, const QString &informativeText) override;
    void beep() override { }
    void setConnectEnabled(bool) override { }
    void setProgressAnimating(bool) override { }

    // 0 until an alert was shown or the opener failed to start or to open the URL, then 1.
    int exitStatus() const { return m_exitStatus; }

    // How long the opener may take to answer before it is taken to have handed the URL on.
    static constexpr int openerAnswerMs = 1000;

private:
    void writeError(const QString &text);

    // An opener still running when the command line ends: left to run, never killed.
    static inline QProcess *s_runningOpener = nullptr;

    OpenMode m_mode;
    std::FILE *m_out;
    std::FILE *m_err;
    int m_exitStatus = 0;
};
