#pragma once

#include "DesktopServices.h"

#include <QPointer>

class QAbstractButton;
class QProgressBar;
class QWidget;

// The desktop services over Qt Widgets: the desktop's URL handlers, a window-modal message
// box as the alert sheet, the system beep, and the window's connect button and busy
// indicator. The widgets belong to the window; this holds them weakly.
class QtDesktopServices : public DesktopServices {
public:
    void setWindow(QWidget *window) { m_window = window; }
    void setConnectButton(QAbstractButton *button) { m_connectButton = button; }
    void setProgressIndicator(QProgressBar *indicator) { m_progressIndicator = indicator; }

    void openURL(const QUrl &url) override;
    void showAlert(const QString &messageText, const QString &informativeText) override;
    void beep() override;
    void setConnectEnabled(bool enabled) override;
    void setProgressAnimating(bool animating) override;

private:
    QPointer<QWidget> m_window;
    QPointer<QAbstractButton> m_connectButton;
    QPointer<QProgressBar> m_progressIndicator;
};
