#include "RedshiftIAMURL.h"

#include "DisplayedText.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

const QString redshiftIAMPrefix = QStringLiteral("redshift:iam:");

// An item given in the query wins over the same parameter taken from the host or user part.
void appendUnlessNamed(URLQueryItems &parameters, const QString &name, const QString &value)
{
    const bool named = std::any_of(parameters.cbegin(), parameters.cend(),
        [&name](const URLQueryItem &item) { return item.name == name; });
    if (!named)
        parameters.append({ name, value });
}

} // namespace

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
    // An item starts the text or follows "?", "&", ";" or a blank. Its value runs to the
    // next "&": a secret holding blanks, line breaks or "#" (which made the URL malformed)
    // is masked whole, and at worst a fragment after it too.
    static const QRegularExpression item(
        QStringLiteral("(?:^|(?<=[?&;\\s]))([^=&?#\\s]+)=([^&]*)"));
    QString masked;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator matches = item.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = QUrl::fromPercentEncoding(match.captured(1).toUtf8()).toLower();
        if ((name != u"secretaccesskey" && name != u"sessiontoken") || match.capturedLength(2) == 0)
            continue;
        masked += QStringView(text).mid(copied, match.capturedStart(2) - copied);
        masked += QStringLiteral("***");
        copied = match.capturedEnd(2);
    }
    masked += QStringView(text).mid(copied);
    return displayedText(masked);
}

std::variant<RedshiftIAMURL, Alert> RedshiftIAMURL::parse(const QString &text)
{
    RedshiftIAMURL url;
    const QString rewritten = QStringLiteral("postgres:") + text.mid(redshiftIAMPrefix.size());
    url.connectionURL = QUrl(rewritten, QUrl::StrictMode);
    if (!url.connectionURL.isValid() || containsBlank(rewritten))
        return Alert { QStringLiteral("Malformed URL"),
            displayedURLText(text) + QStringLiteral(" is not a valid Redshift IAM URL") };

    if (const std::optional<URLQueryItems> items = queryItems(url.connectionURL)) {
        URLQueryItems kept;
        for (const URLQueryItem &item : *items) {
            if (sortQueryItem(item, url))
                kept.append(item);
        }
        setQueryItems(url.connectionURL, kept);
    }

    // Without UseUnicodePropertiesOption, \w is ASCII letters, digits and "_". The greedy
    // middle makes the region the last such dotted run of the host.
    static const QRegularExpression clusterAndRegion(
        QStringLiteral("^([^.]+).*\\.(\\w+-\\w+-\\w+)\\."));
    const QRegularExpressionMatch match = clusterAndRegion.match(url.connectionURL.host());
    if (match.hasMatch()) {
        appendUnlessNamed(url.parameters, QStringLiteral("ClusterIdentifier"), match.captured(1));
        url.region = match.captured(2);
    }

    const QString user = url.connectionURL.userName(QUrl::FullyDecoded);
    if (!user.isEmpty())
        appendUnlessNamed(url.parameters, QStringLiteral("DbUser"), user);
    return url;
}

bool RedshiftIAMURL::sortQueryItem(const URLQueryItem &item, RedshiftIAMURL &url)
{
    static const QStringList forwardedNames {
        QStringLiteral("ClusterIdentifier"),
        QStringLiteral("DbUser"),
        QStringLiteral("AutoCreate"),
        QStringLiteral("DbName"),
        QStringLiteral("DurationSeconds"),
    };
    if (forwardedNames.contains(item.name, Qt::CaseSensitive)
        || item.name.startsWith(QLatin1String("DbGroups.DbGroup."), Qt::CaseSensitive)) {
        url.parameters.append(item);
        return false;
    }
    // What the query says about the AWS keys, taken whatever the letter case of the name.
    static const std::pair<QString, std::optional<QString> RedshiftIAMURL::*> keyItems[] = {
        { QStringLiteral("accesskeyid"), &RedshiftIAMURL::accessKeyID },
        { QStringLiteral("secretaccesskey"), &RedshiftIAMURL::secretAccessKey },
        { QStringLiteral("sessiontoken"), &RedshiftIAMURL::sessionToken },
        { QStringLiteral("profile"), &RedshiftIAMURL::profile },
    };
    const QString lowerName = item.name.toLower();
    for (const auto &[name, field] : keyItems) {
        if (lowerName == name) {
            url.*field = item.value;
            return false;
        }
    }
    return true;
}
