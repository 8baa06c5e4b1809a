#pragma once

#include "DesktopServices.h"

#include <QPointer>

class QAbstractButton;
class QDialog;
class QProgressBar;
class QWidget;

// The desktop services over Qt Widgets: the desktop's opener, a window-modal message box as
// the alert sheet and for a yes-or-no question, a window-modal input dialog for a text, and
// the window's connect button and busy indicator, which belong to the window and are held
// weakly. A browser sign-in is a window-modal sheet with its instructions, Open Browser and
// Cancel; a choice, a window-modal input dialog with a list.
class QtDesktopServices : public DesktopServices {
public:
    QtDesktopServices(
        QWidget *window, QAbstractButton *connectButton, QProgressBar *progressIndicator);

    void openURL(const QUrl &url, OpenAnswer answered) override;
    void showAlertSheet(const QString &messageText, const QString &informativeText) override;
    void setBusy(bool busy) override;
    void askForText(const QString &prompt, TextAnswer answered) override;
    void confirmHost(const HostQuestion &question, ConfirmAnswer answered) override;
    void beginBrowserSignIn(const QString &instructions,
        const QUrl &url,
        bool openNow,
        std::function<void()> cancelled) override;
    void endBrowserSignIn() override;
    void askForChoice(
        const QString &prompt, const QStringList &choices, ChoiceAnswer answered) override;

private:
    QPointer<QWidget> m_window;
    QPointer<QAbstractButton> m_connectButton;
    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QDialog> m_signInSheet;
};
