#include "PasswordExpiry.h"

QString passwordExpiryText(const QDateTime &expiration, const QDateTime &now)
{
    const QDateTime local = expiration.toLocalTime();
    const QString at = local.toString(local.date() == now.toLocalTime().date()
            ? QStringLiteral("HH:mm")
            : QStringLiteral("yyyy-MM-dd HH:mm"));
    const qint64 seconds = now.secsTo(expiration);
    if (seconds <= 0)
        return QStringLiteral("The password expired at %1.").arg(at);
    // Rounded to the nearest unit: a password that lasts 900 s is read a moment later.
    const qint64 minutes = (seconds + 30) / 60;
    const qint64 hours = (seconds + 1800) / 3600;
    const QString in = minutes < 1 ? QStringLiteral("less than a minute")
        : minutes == 1             ? QStringLiteral("1 minute")
        : minutes < 120            ? QStringLiteral("%1 minutes").arg(minutes)
        : hours < 48               ? QStringLiteral("%1 hours").arg(hours)
                                   : QStringLiteral("%1 days").arg((seconds + 43200) / 86400);
    return QStringLiteral("The password expires at %1 (in %2).").arg(at, in);
}
