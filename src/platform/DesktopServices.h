#pragma once

#include <QString>
#include <QUrl>

// What the connect flow needs of the desktop. The window implements it with widgets, the
// command line with standard streams, the tests with a recorder. Called on the main thread.
class DesktopServices {
public:
    virtual ~DesktopServices() = default;

    // Offers `url` to the application registered for its scheme; the answer is not needed.
    virtual void openURL(const QUrl &url) = 0;
    // A fresh alert with one dismiss button; returns at once.
    virtual void showAlert(const QString &messageText, const QString &informativeText) = 0;
    virtual void beep() = 0;
    // The busy state's two controls: the connect button and the progress indicator.
    virtual void setConnectEnabled(bool enabled) = 0;
    virtual void setProgressAnimating(bool animating) = 0;
};
