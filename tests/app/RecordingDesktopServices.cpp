#include "RecordingDesktopServices.h"

void RecordingDesktopServices::openURL(const QUrl &url)
{
    openedURLs.append(url);
    events.append(QStringLiteral("open ") + QString::fromUtf8(url.toEncoded()));
}

void RecordingDesktopServices::showAlert(const QString &messageText, const QString &informativeText)
{
    events.append(QStringLiteral("alert ") + messageText + QLatin1Char('|') + informativeText);
}

void RecordingDesktopServices::beep()
{
    events.append(QStringLiteral("beep"));
}

void RecordingDesktopServices::setConnectEnabled(bool enabled)
{
    events.append(enabled ? QStringLiteral("connect on") : QStringLiteral("connect off"));
}

void RecordingDesktopServices::setProgressAnimating(bool animating)
{
    events.append(animating ? QStringLiteral("progress on") : QStringLiteral("progress off"));
}
