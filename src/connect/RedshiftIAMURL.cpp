#include "RedshiftIAMURL.h"

#include "DisplayedText.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

// An item given in the query wins over the same parameter taken from the host or user part.
void appendUnlessNamed(URLQueryItems &parameters, const QString &name, const QString &value)
{
    const bool named = std::any_of(parameters.cbegin(), parameters.cend(),
        [&name](const URLQueryItem &item) { return item.name == name; });
    if (!named)
        parameters.append({ name, value });
}

// In what follows "redshift:iam:", where the host begins (after any user part) and where
// the authority ends; both 0 without an authority.
std::pair<qsizetype, qsizetype> hostSpan(const QString &rest)
{
    if (!rest.startsWith(u"//"))
        return { 0, 0 };
    qsizetype end = 2;
    while (end < rest.size() && !QStringView(u"/?#").contains(rest.at(end)))
        ++end;
    const qsizetype at = rest.lastIndexOf(u'@', end - 1);
    return { at < 2 ? 2 : at + 1, end };
}

// JDBC's properties start at a ";" past the user part and before any "?" or "#", and are
// separated by ";" or "&": written as the query they are.
void writePropertiesAsQuery(QString &rest)
{
    static const QRegularExpression queryStart(QStringLiteral("[;?#]"));
    const qsizetype start = rest.indexOf(queryStart, hostSpan(rest).first);
    if (start == -1 || rest.at(start) != u';')
        return;
    const qsizetype fragment = rest.indexOf(u'#', start);
    const qsizetype end = fragment == -1 ? rest.size() : fragment;
    rest[start] = u'?';
    for (qsizetype i = start + 1; i < end; ++i) {
        if (rest.at(i) == u';')
            rest[i] = u'&';
    }
}

// JDBC's "<cluster id>:<region>": where the port would be, a region, which has a "-" no port
// has. Removed from `rest` and returned.
std::optional<QString> takeRegionFromPort(QString &rest)
{
    static const QRegularExpression regionAtEnd(QStringLiteral(":(\\w+(?:-\\w+)+)\\z"));
    const auto [begin, end] = hostSpan(rest);
    const QRegularExpressionMatch match = regionAtEnd.match(rest.mid(begin, end - begin));
    if (!match.hasMatch())
        return std::nullopt;
    rest.remove(begin + match.capturedStart(0), match.capturedLength(0));
    return match.captured(1);
}

} // namespace

std::variant<RedshiftIAMURL, Alert> RedshiftIAMURL::parse(const QString &text)
{
    RedshiftIAMURL url;
    QString rest = text.mid(prefix.size());
    writePropertiesAsQuery(rest);
    const std::optional<QString> portRegion = takeRegionFromPort(rest);
    const QString rewritten = QStringLiteral("postgres:") + rest;
    url.connectionURL = QUrl(rewritten, QUrl::StrictMode);
    // Without "//" there is no host, and the user part written in later would make the path
    // one.
    if (!url.connectionURL.isValid() || containsBlank(rewritten) || !rest.startsWith(u"//"))
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

    const QString host = url.connectionURL.host();
    if (portRegion) {
        url.region = portRegion;
        url.describeCluster = true;
        appendUnlessNamed(url.parameters, QStringLiteral("ClusterIdentifier"), host);
    } else {
        // Without UseUnicodePropertiesOption, \w is ASCII letters, digits and "_". The greedy
        // middle makes the region the last such dotted run of the host.
        static const QRegularExpression clusterAndRegion(
            QStringLiteral("^([^.]+).*\\.(\\w+-\\w+-\\w+)\\."));
        static const QRegularExpression serverlessDomain(
            QStringLiteral("\\.redshift-serverless\\.amazonaws\\.com(?:\\.cn)?\\z"));
        const QRegularExpressionMatch match = clusterAndRegion.match(host);
        if (match.hasMatch()) {
            url.region = match.captured(2);
            if (serverlessDomain.match(host).hasMatch()) {
                if (!url.workgroupName)
                    url.workgroupName = match.captured(1);
            } else {
                appendUnlessNamed(
                    url.parameters, QStringLiteral("ClusterIdentifier"), match.captured(1));
            }
        }
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
    // What the query says about the AWS keys and where to call, whatever the letter case of
    // the name. A region in the host replaces the Region item's later.
    static const std::pair<QString, std::optional<QString> RedshiftIAMURL::*> namedItems[] = {
        { QStringLiteral("accesskeyid"), &RedshiftIAMURL::accessKeyID },
        { QStringLiteral("secretaccesskey"), &RedshiftIAMURL::secretAccessKey },
        { QStringLiteral("sessiontoken"), &RedshiftIAMURL::sessionToken },
        { QStringLiteral("profile"), &RedshiftIAMURL::profile },
        { QStringLiteral("region"), &RedshiftIAMURL::region },
        { QStringLiteral("workgroupname"), &RedshiftIAMURL::workgroupName },
        { QStringLiteral("groupfederation"), &RedshiftIAMURL::groupFederation },
        { QStringLiteral("plugin_name"), &RedshiftIAMURL::pluginName },
        { QStringLiteral("login_url"), &RedshiftIAMURL::loginURL },
        { QStringLiteral("listen_port"), &RedshiftIAMURL::listenPort },
        { QStringLiteral("idp_response_timeout"), &RedshiftIAMURL::idpResponseTimeout },
        { QStringLiteral("preferred_role"), &RedshiftIAMURL::preferredRole },
    };
    const QString lowerName = item.name.toLower();
    if (lowerName == u"clusterid") {
        url.parameters.append({ QStringLiteral("ClusterIdentifier"), item.value });
        return false;
    }
    for (const auto &[name, field] : namedItems) {
        if (lowerName == name) {
            url.*field = item.value;
            return false;
        }
    }
    return true;
}
