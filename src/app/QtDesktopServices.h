#pragma once

#include "DesktopServices.h"

#include <QPointer>
#include <QTimer>

class QAbstractButton;
class QDialog;
class QLabel;
class QProgressBar;
class QWidget;

// The desktop services over Qt Widgets: the desktop's opener, a window-modal message box as
// the alert sheet and for a yes-or-no question, a window-modal input dialog for a text, and
// the window's connect button, busy indicator and status line, which belong to the window and
// are held weakly. The status line says what a connect waits for, then what was opened and
// when its password expires, kept current while the window stays open; an alert clears it. A
// browser sign-in is a window-modal sheet with its instructions, Open Browser and Cancel; a
// choice, a window-modal input dialog with a list.
class QtDesktopServices : public DesktopServices {
public:
    QtDesktopServices(QWidget *window,
        QAbstractButton *connectButton,
        QProgressBar *progressIndicator,
        QLabel *statusLine);

    // Once the URL is handed on, the status line says so, with `expiration`.
    void openURL(
        const QUrl &url, const std::optional<QDateTime> &expiration, OpenAnswer answered) override;
    void showAlertSheet(const QString &messageText, const QString &informativeText) override;
    void setBusy(bool busy) override;
    void askForText(const QString &prompt, TextAnswer answered) override;
    void confirmHost(const HostQuestion &question, ConfirmAnswer answered) override;
    void showStatus(const QString &text) override;
    void beginBrowserSignIn(const QString &instructions,
        const QUrl &url,
        bool openNow,
        std::function<void()> cancelled) override;
    void endBrowserSignIn() override;
    void askForChoice(
        const QString &prompt, const QStringList &choices, ChoiceAnswer answered) override;

private:
    void showOpened();

    QPointer<QWidget> m_window;
    QPointer<QAbstractButton> m_connectButton;
    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QDialog> m_signInSheet;
    QPointer<QLabel> m_statusLine;
    // What the status line tells after a hand-off, and the timer that keeps "in N minutes" true.
    QString m_opened;
    std::optional<QDateTime> m_expiration;
    QTimer m_expirationTimer;
};
