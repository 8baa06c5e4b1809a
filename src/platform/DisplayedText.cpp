#include "DisplayedText.h"

#include <QRegularExpression>
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

bool containsBlank(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Separator_Space || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph;
    });
}

QString displayedURLText(const QString &text)
{
    // An item starts the text or follows "?", "&", ";" or a blank; items end at "&" or ";",
    // so that each of the properties after ";" is looked at. A secret's value runs to the
    // next "&", though: a secret holding blanks, line breaks, "#" or ";" (which made the URL
    // malformed) is masked whole, and at worst the items or fragment after it too.
    static const QRegularExpression item(
        QStringLiteral("(?:^|(?<=[?&;\\s]))([^=&?#;\\s]+)=[^&;]*"));
    QString masked;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator matches = item.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = QUrl::fromPercentEncoding(match.captured(1).toUtf8()).toLower();
        const qsizetype value = match.capturedEnd(1) + 1;
        const qsizetype ampersand = text.indexOf(u'&', value);
        const qsizetype end = ampersand == -1 ? text.size() : ampersand;
        if (value < copied || (name != u"secretaccesskey" && name != u"sessiontoken")
            || end == value)
            continue;
        masked += QStringView(text).mid(copied, value - copied);
        masked += QStringLiteral("***");
        copied = end;
    }
    masked += QStringView(text).mid(copied);
    return displayedText(masked);
}
