#include "RedshiftCall.h"

#include "AWSEndpoint.h"
#include "AWSRequest.h"

std::variant<URLRequest, TransportError> RedshiftCall::queryRequest(const QString &action,
    URLQueryItems parameters,
    const AWSCredentials &credentials,
    const QString &region,
    const QDateTime &now)
{
    auto endpoint
        = AWSEndpoint("AWS_ENDPOINT_URL_REDSHIFT", QStringLiteral("redshift")).url(region);
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;
    QUrl url = std::get<QUrl>(std::move(endpoint));

    // The service wants the API version with every action; the AWS SDKs send it just before
    // the action. The connect flow forwards no items of these names; any other caller's are
    // dropped rather than sent twice.
    parameters.removeIf(
        [](const URLQueryItem &item) { return item.name == u"Version" || item.name == u"Action"; });
    parameters.append({ QStringLiteral("Version"), QStringLiteral("2012-12-01") });
    parameters.append({ QStringLiteral("Action"), action });
    setQueryItems(url, parameters);
    URLRequest request(url);
    request.method = QStringLiteral("POST");
    return AWSRequest::signedRequest(QStringLiteral("redshift"), region, credentials, request, now);
}

std::optional<QString> RedshiftCall::errorMessage(const AWSXMLReply &reply)
{
    const std::optional<QString> message = reply.contents(QStringLiteral("Message"));
    return message ? message : reply.contents(QStringLiteral("Error"));
}
