#include "RedshiftCredentialsRequest.h"

#include "AWSXMLReply.h"
#include "RedshiftCall.h"

std::variant<URLRequest, TransportError> RedshiftCredentialsRequest::request(
    const AWSCredentials &credentials,
    const QString &region,
    const URLQueryItems &parameters,
    const QDateTime &now)
{
    return RedshiftCall::queryRequest(
        QStringLiteral("GetClusterCredentials"), parameters, credentials, region, now);
}

std::variant<URLRequest, TransportError> RedshiftCredentialsRequest::requestWithIAM(
    const AWSCredentials &credentials,
    const QString &region,
    const URLQueryItems &parameters,
    const QDateTime &now)
{
    URLQueryItems kept = parameters;
    kept.removeIf([](const URLQueryItem &item) {
        return item.name != u"ClusterIdentifier" && item.name != u"DbName"
            && item.name != u"DurationSeconds";
    });
    return RedshiftCall::queryRequest(
        QStringLiteral("GetClusterCredentialsWithIAM"), kept, credentials, region, now);
}

CredentialsResult RedshiftCredentialsRequest::result(const HttpReply &reply)
{
    const AWSXMLReply xml = AWSXMLReply::read(reply.body.value_or(QByteArray()));
    CredentialsResult result;
    // A credential whose element never closed was cut off by a malformed reply: opening a
    // URL with it would only fail later.
    result.dbUser = xml.completeContents(QStringLiteral("DbUser"));
    result.dbPassword = xml.completeContents(QStringLiteral("DbPassword"));
    result.errorMessage = RedshiftCall::errorMessage(xml);
    result.transportError = reply.transportError;
    if (const auto expiration = xml.completeContents(QStringLiteral("Expiration"))) {
        const QDateTime instant = QDateTime::fromString(*expiration, Qt::ISODateWithMs);
        if (instant.isValid())
            result.expiration = instant.toUTC();
    }
    return result;
}
