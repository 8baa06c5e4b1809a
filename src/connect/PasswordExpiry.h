#pragma once

#include <QDateTime>
#include <QString>

// The sentence that tells when temporary credentials stop working, in local time:
// "The password expires at 14:05 (in 15 minutes)." The date is added when it is not today's,
// and a time already past reads "The password expired at 14:05.".
QString passwordExpiryText(
    const QDateTime &expiration, const QDateTime &now = QDateTime::currentDateTimeUtc());
