#include "RedshiftIAMURL.h"

#include "DisplayedText.h"
#include "PastedText.h"

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
// has. Removed from `rest` and returned, whether or not it is a well-formed region.
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

// A region as AWS writes them: lower-case letters in hyphen-separated runs, then a number
// (us-west-2, us-gov-west-1, cn-north-1).
bool isRegion(const QString &text)
{
    static const QRegularExpression region(QStringLiteral("\\A[a-z]+(?:-[a-z]+)*-[0-9]+\\z"));
    return region.match(text).hasMatch();
}

// Items that would change where or as whom libpq connects, or the password it sends.
bool isUnsafeConnectionItem(const QString &name)
{
    static const QStringList unsafe { QStringLiteral("host"), QStringLiteral("hostaddr"),
        QStringLiteral("port"), QStringLiteral("dbname"), QStringLiteral("user"),
        QStringLiteral("password"), QStringLiteral("passfile"), QStringLiteral("service"),
        QStringLiteral("servicefile"), QStringLiteral("options"), QStringLiteral("require_auth"),
        QStringLiteral("krbsrvname"), QStringLiteral("gsslib"), QStringLiteral("gssdelegation"),
        QStringLiteral("replication") };
    return unsafe.contains(name, Qt::CaseInsensitive);
}

// The kept items with TLS required: an sslmode that would let the password travel in clear
// (absent, disable, allow, prefer) becomes require, as AWS's own driver does for IAM logins.
void requireTLS(URLQueryItems &kept)
{
    bool given = false;
    for (URLQueryItem &item : kept) {
        if (item.name != u"sslmode")
            continue;
        given = true;
        if (!item.value
            || QStringList { QStringLiteral("disable"), QStringLiteral("allow"),
                QStringLiteral("prefer") }
                   .contains(*item.value))
            item.value = QStringLiteral("require");
    }
    if (!given)
        kept.append({ QStringLiteral("sslmode"), QStringLiteral("require") });
}

Alert malformed(const QString &text)
{
    return { QStringLiteral("Malformed URL"),
        PastedText::displayedURL(text) + QStringLiteral(" is not a valid Redshift IAM URL") };
}

} // namespace

std::optional<RedshiftIAMURL::AWSHost> RedshiftIAMURL::awsHost(const QString &host)
{
    static const QRegularExpression domain(
        QStringLiteral("\\.(redshift|redshift-serverless)\\.amazonaws\\.com(?:\\.cn)?\\z"));
    const QRegularExpressionMatch match = domain.match(host);
    if (!match.hasMatch())
        return std::nullopt;
    // <cluster>.<id>.<region>.redshift.amazonaws.com, <workgroup>.<account>.<region>.
    // redshift-serverless.amazonaws.com: a name, then at least the region.
    const QStringList labels = host.first(match.capturedStart(0)).split(u'.');
    if (labels.size() < 2 || labels.first().isEmpty())
        return std::nullopt;
    return AWSHost { labels.first(), labels.last(), match.captured(1) == u"redshift-serverless" };
}

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
    if (!url.connectionURL.isValid() || PastedText::containsBlank(rewritten)
        || !rest.startsWith(u"//"))
        return malformed(text);

    URLQueryItems kept;
    for (const URLQueryItem &item : queryItems(url.connectionURL).value_or(URLQueryItems())) {
        if (!sortQueryItem(item, url))
            continue;
        if (isUnsafeConnectionItem(item.name))
            return Alert { QStringLiteral("Unsafe connection item"),
                QStringLiteral("The URL's item %1 would change where or as whom the database "
                               "connection goes. iamlink does not pass it on: remove it from the "
                               "URL.")
                    .arg(displayedText(item.name, 60)) };
        kept.append(item);
    }
    requireTLS(kept);
    setQueryItems(url.connectionURL, kept);
    if ((url.region && !isRegion(*url.region)) || (portRegion && !isRegion(*portRegion)))
        return malformed(text);

    const QString host = url.connectionURL.host();
    if (portRegion) {
        url.region = portRegion;
        url.describeCluster = true;
        appendUnlessNamed(url.parameters, QStringLiteral("ClusterIdentifier"), host);
    } else if (const std::optional<AWSHost> aws = awsHost(host)) {
        // AWS's own names: the region is the label before the service's, however many
        // hyphens it has.
        if (!isRegion(aws->region))
            return malformed(text);
        url.region = aws->region;
        if (aws->serverless) {
            if (!url.workgroupName)
                url.workgroupName = aws->name;
        } else {
            appendUnlessNamed(url.parameters, QStringLiteral("ClusterIdentifier"), aws->name);
        }
    } else {
        // Any other name (a custom domain, a tunnel): the cluster and region as written there.
        // Without UseUnicodePropertiesOption, \w is ASCII letters, digits and "_". The greedy
        // middle makes the region the last such dotted run of the host.
        static const QRegularExpression clusterAndRegion(
            QStringLiteral("^([^.]+).*\\.(\\w+-\\w+-\\w+)\\."));
        const QRegularExpressionMatch match = clusterAndRegion.match(host);
        if (match.hasMatch()) {
            url.region = match.captured(2);
            appendUnlessNamed(
                url.parameters, QStringLiteral("ClusterIdentifier"), match.captured(1));
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

bool RedshiftIAMURL::hasKeys() const
{
    for (const auto &item : { accessKeyID, secretAccessKey, sessionToken }) {
        if (item && !item->isEmpty())
            return true;
    }
    return false;
}

std::optional<QString> RedshiftIAMURL::parameter(const QString &name) const
{
    const auto item = std::find_if(parameters.crbegin(), parameters.crend(),
        [&name](const URLQueryItem &candidate) { return candidate.name == name; });
    return item == parameters.crend() ? std::nullopt : item->value;
}

QString RedshiftIAMURL::target() const
{
    return workgroupName.value_or(
        parameter(QStringLiteral("ClusterIdentifier")).value_or(QString()));
}

bool RedshiftIAMURL::isTrustedHost() const
{
    if (describeCluster)
        return true;
    const std::optional<AWSHost> host = awsHost(connectionURL.host());
    if (!host)
        return false;
    // Every cluster named must be the host's: which of several the service takes is its own.
    const auto isHost = [&host](const std::optional<QString> &name) {
        return name && name->compare(host->name, Qt::CaseInsensitive) == 0;
    };
    if (workgroupName)
        return isHost(workgroupName);
    bool named = false;
    for (const URLQueryItem &item : parameters) {
        if (item.name != u"ClusterIdentifier")
            continue;
        if (!isHost(item.value))
            return false;
        named = true;
    }
    return named;
}
