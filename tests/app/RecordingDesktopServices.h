#pragma once

#include "DesktopServices.h"

#include <QList>
#include <QStringList>
#include <QUrl>

// Records every call of the connect flow into the desktop, in order, as short texts:
// "open <url>", "alert <message>|<informative>", "beep", "connect on/off", "progress on/off".
class RecordingDesktopServices : public DesktopServices {
public:
    void openURL(const QUrl &url) override;
    void showAlert(const QString &messageText, const QString &informativeText) override;
    void beep() override;
    void setConnectEnabled(bool enabled) override;
    void setProgressAnimating(bool animating) override;

    QStringList events;
    QList<QUrl> openedURLs;
};
