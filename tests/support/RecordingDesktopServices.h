#pragma once

#include "DesktopServices.h"

#include <QStringList>

// Records every call of the connect flow into the desktop, in order, as short texts:
// "open <url as sent>", "alert <message>|<informative>", "beep", "connect on/off",
// "progress on/off".
class RecordingDesktopServices : public DesktopServices {
public:
    void openURL(const QUrl &url) override
    {
        events.append(QStringLiteral("open ") + QString::fromUtf8(url.toEncoded()));
    }
    void showAlert(const QString &messageText, const QString &informativeText) override
    {
        events.append(QStringLiteral("alert ") + messageText + u'|' + informativeText);
    }
    void beep() override { events.append(QStringLiteral("beep")); }
    void setConnectEnabled(bool on) override
    {
        events.append(on ? QStringLiteral("connect on") : QStringLiteral("connect off"));
    }
    void setProgressAnimating(bool on) override
    {
        events.append(on ? QStringLiteral("progress on") : QStringLiteral("progress off"));
    }

    QStringList events;
};
