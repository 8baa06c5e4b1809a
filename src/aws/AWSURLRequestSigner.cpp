#include "AWSURLRequestSigner.h"

#include "URLQueryItem.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QMessageAuthenticationCode>

#include <algorithm>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

AWSURLRequestSigner::AWSURLRequestSigner(
    QString serviceType, QString awsRegion, AWSCredentials credentials)
    : credentials(std::move(credentials))
    , awsRegion(std::move(awsRegion))
    , serviceType(std::move(serviceType))
    , iso8601Formatter(makeDateFormatter(u"yyyyMMdd'T'HHmmss'Z'"_s))
    , shortDateFormatter(makeDateFormatter(u"yyyyMMdd"_s))
{
}

DateFormatter AWSURLRequestSigner::makeDateFormatter(const QString &pattern)
{
    // The C locale has ASCII digits and the Gregorian calendar whatever the user prefers.
    return [pattern](const QDateTime &instant) {
        return QLocale::c().toString(instant.toUTC(), pattern);
    };
}

static std::optional<SigningError> refusal(const URLRequest &request, const QDateTime &now)
{
    if (!now.isValid())
        return SigningError { u"The signing time is not valid."_s };
    if (request.method.isEmpty())
        return SigningError { u"The request has no method."_s };
    if (request.url.isEmpty())
        return SigningError { u"The request has no URL."_s };
    if (!request.url.isValid())
        return SigningError { u"The request URL is not valid."_s };
    if (request.url.host().isEmpty())
        return SigningError { u"The request URL has no host."_s };
    return std::nullopt;
}

// What HTTP sends as "Host": the host, bracketed when it is an IPv6 address, and the port
// only when the URL names one that is not the scheme's default.
static QString hostFieldValue(const QUrl &url)
{
    QString host = url.host(QUrl::FullyEncoded);
    if (host.contains(u':'))
        host = u'[' + host + u']';
    const int port = url.port();
    const int defaultPort = url.scheme() == u"https"_s ? 443 : url.scheme() == u"http"_s ? 80 : -1;
    if (port != -1 && port != defaultPort)
        host += u':' + QString::number(port);
    return host;
}

// The path as QNetworkAccessManager sends it ("." and ".." resolved, escaped), repeated
// slashes collapsed and each segment encoded once more: services other than S3 sign the
// encoding of the already-encoded path.
static QString canonicalURI(const QUrl &url)
{
    const QString sent = url.adjusted(QUrl::NormalizePathSegments).path(QUrl::FullyEncoded);
    QStringList segments;
    for (const QString &segment : sent.split(u'/', Qt::SkipEmptyParts))
        segments.append(QString::fromLatin1(awsPercentEncode(segment)));
    QString uri = u'/' + segments.join(u'/');
    if (!segments.isEmpty() && sent.endsWith(u'/'))
        uri += u'/';
    return uri;
}

// SigV4 canonical query: every name and value URI-encoded, sorted by encoded name and then
// encoded value (the order the service computes), an item without "=" written as "name=".
static QString canonicalQueryString(const QUrl &url)
{
    const std::optional<URLQueryItems> items = queryItems(url);
    if (!items || items->isEmpty())
        return {};
    QList<std::pair<QByteArray, QByteArray>> encoded;
    encoded.reserve(items->size());
    for (const URLQueryItem &item : *items)
        encoded.append(
            { awsPercentEncode(item.name), awsPercentEncode(item.value.value_or(QString())) });
    std::sort(encoded.begin(), encoded.end());

    QByteArray query;
    for (const auto &[name, value] : std::as_const(encoded)) {
        if (!query.isEmpty())
            query += '&';
        query += name;
        query += '=';
        query += value;
    }
    return QString::fromLatin1(query);
}

namespace {
struct CanonicalHeaders {
    QString lines; // "name:value" lines ordered by lowercased name, each ending in "\n"
    QString signedHeaders; // the lowercased names in the same order, joined by ";"
};
} // namespace

static CanonicalHeaders canonicalHeaders(const QList<URLRequest::HeaderField> &fields)
{
    QList<URLRequest::HeaderField> lowered;
    lowered.reserve(fields.size());
    // Trimall: ends trimmed, each inner run of whitespace (a folded line break too) one space.
    for (const auto &[name, value] : fields)
        lowered.append({ name.toLower(), value.simplified() });
    std::sort(lowered.begin(), lowered.end(),
        [](const auto &a, const auto &b) { return a.first < b.first; });

    CanonicalHeaders headers;
    for (const auto &[name, value] : std::as_const(lowered)) {
        headers.lines += name + u':' + value + u'\n';
        if (!headers.signedHeaders.isEmpty())
            headers.signedHeaders += u';';
        headers.signedHeaders += name;
    }
    return headers;
}

// `request` already carries "Host" and "X-Amz-Date".
static QString canonicalRequest(
    const URLRequest &request, const CanonicalHeaders &headers, const QString &payloadHash)
{
    return request.method + u'\n' + canonicalURI(request.url) + u'\n'
        + canonicalQueryString(request.url) + u'\n' + headers.lines + u'\n' + headers.signedHeaders
        + u'\n' + payloadHash;
}

std::variant<URLRequest, SigningError> AWSURLRequestSigner::sign(
    const URLRequest &request, const QDateTime &now) const
{
    auto stages = signingStages(request, now);
    if (auto *error = std::get_if<SigningError>(&stages))
        return std::move(*error);
    SigningStages &signing = std::get<SigningStages>(stages);
    signing.request.addValue(signing.authorization, u"Authorization"_s);
    return std::move(signing.request);
}

std::variant<SigningStages, SigningError> AWSURLRequestSigner::signingStages(
    const URLRequest &request, const QDateTime &now) const
{
    if (auto error = refusal(request, now))
        return std::move(*error);

    SigningStages stages;
    stages.requestTimestamp = iso8601Formatter(now);
    stages.dateStamp = shortDateFormatter(now);
    stages.request = request;
    stages.request.addValue(hostFieldValue(request.url), u"Host"_s);
    stages.request.addValue(stages.requestTimestamp, u"X-Amz-Date"_s);
    // Signed like the other fields, as the AWS SDKs do.
    if (credentials.sessionToken && !credentials.sessionToken->isEmpty())
        stages.request.addValue(*credentials.sessionToken, u"X-Amz-Security-Token"_s);

    const CanonicalHeaders headers = canonicalHeaders(stages.request.headerFields());
    stages.canonicalRequest = canonicalRequest(
        stages.request, headers, hexString(sha256Digest(request.body.value_or(QByteArray()))));
    stages.credentialScope = credentialScope(stages.dateStamp);
    stages.stringToSign
        = stringToSign(stages.requestTimestamp, stages.credentialScope, stages.canonicalRequest);
    stages.signature
        = computeSignature(stages.stringToSign, credentials.secretAccessKey, stages.dateStamp);
    stages.authorization = hmacShaTypeString + u" Credential="_s + credentials.accessKeyId + u'/'
        + stages.credentialScope + u", SignedHeaders="_s + headers.signedHeaders + u", Signature="_s
        + stages.signature;
    return stages;
}

QString AWSURLRequestSigner::credentialScope(const QString &dateStamp) const
{
    return dateStamp + u'/' + awsRegion + u'/' + serviceType + u'/' + aws4Request;
}

QString AWSURLRequestSigner::stringToSign(const QString &requestTimestamp,
    const QString &credentialScope,
    const QString &canonicalRequest) const
{
    return hmacShaTypeString + u'\n' + requestTimestamp + u'\n' + credentialScope + u'\n'
        + hexString(sha256Digest(utf8Bytes(canonicalRequest)));
}

// Derived afresh for every signing; never cached.
QByteArray AWSURLRequestSigner::signingKey(const QString &secret, const QString &dateStamp) const
{
    const QByteArray dateKey = hmacSHA256(utf8Bytes(u"AWS4"_s + secret), utf8Bytes(dateStamp));
    const QByteArray regionKey = hmacSHA256(dateKey, utf8Bytes(awsRegion));
    const QByteArray serviceKey = hmacSHA256(regionKey, utf8Bytes(serviceType));
    return hmacSHA256(serviceKey, utf8Bytes(aws4Request));
}

QString AWSURLRequestSigner::computeSignature(
    const QString &stringToSign, const QString &secret, const QString &dateStamp) const
{
    return hexString(hmacSHA256(signingKey(secret, dateStamp), utf8Bytes(stringToSign)));
}

QByteArray AWSURLRequestSigner::utf8Bytes(const QString &text)
{
    return text.toUtf8();
}

QByteArray AWSURLRequestSigner::sha256Digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray AWSURLRequestSigner::hmacSHA256(const QByteArray &key, const QByteArray &data)
{
    return QMessageAuthenticationCode::hash(data, key, QCryptographicHash::Sha256);
}

QString AWSURLRequestSigner::hexString(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}
