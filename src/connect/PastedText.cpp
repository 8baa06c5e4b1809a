#include "PastedText.h"

#include "DisplayedText.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

bool PastedText::containsBlank(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Separator_Space || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph;
    });
}

QString PastedText::displayedURL(const QString &text)
{
    // The spans to mask, in order. A user part's password runs from the first ":" after "//"
    // to the last "@" before any query or fragment, whatever it holds.
    QList<std::pair<qsizetype, qsizetype>> secrets;
    const qsizetype authority = text.indexOf(u"//");
    if (authority != -1) {
        static const QRegularExpression queryOrFragment(QStringLiteral("[?#]"));
        const qsizetype end = text.indexOf(queryOrFragment, authority);
        const qsizetype at = text.lastIndexOf(u'@', end == -1 ? -1 : end);
        const qsizetype colon = text.indexOf(u':', authority);
        if (at > authority && colon != -1 && colon < at)
            secrets.append({ colon + 1, at });
    }
    // An item starts the text or follows "?", "&", ";" or a blank; items end at "&" or ";", so
    // that each of the properties after ";" is looked at. A secret's value runs to the next
    // "&", though: a secret holding blanks, line breaks, "#" or ";" (which made the URL
    // malformed) is masked whole, and at worst the items or fragment after it too.
    static const QRegularExpression item(
        QStringLiteral("(?:^|(?<=[?&;\\s]))([^=&?#;\\s]+)=[^&;]*"));
    static const QRegularExpression secretName(
        QStringLiteral("password|secret|token"), QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatchIterator matches = item.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = QUrl::fromPercentEncoding(match.captured(1).toUtf8());
        const qsizetype value = match.capturedEnd(1) + 1;
        const qsizetype ampersand = text.indexOf(u'&', value);
        const qsizetype end = ampersand == -1 ? text.size() : ampersand;
        if (secretName.match(name).hasMatch() && end > value)
            secrets.append({ value, end });
    }

    QString masked;
    qsizetype copied = 0;
    for (const auto &[begin, end] : std::as_const(secrets)) {
        if (begin < copied)
            continue;
        masked += QStringView(text).mid(copied, begin - copied);
        masked += QStringLiteral("***");
        copied = end;
    }
    masked += QStringView(text).mid(copied);
    return displayedText(masked);
}
