#include "DisplayedText.h"

#include <QUrl>

#include <algorithm>

QString displayedText(const QString &text, qsizetype maxLength)
{
    QString shown;
    shown.reserve(std::min(text.size(), maxLength) + 1);
    for (const QChar c : text) {
        if (shown.size() >= maxLength) {
            shown += QChar(0x2026); // "…"
            break;
        }
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f) || code == 0x2028 || code == 0x2029)
            shown += QString::fromLatin1(QUrl::toPercentEncoding(QString(c)));
        else
            shown += c;
    }
    return shown;
}
