#include "RedshiftCredentialsRequest.h"

#include "AWSEndpoint.h"
#include "AWSRequest.h"
#include "AWSURLRequestSigner.h"
#include "AWSXMLReply.h"

std::shared_ptr<RedshiftCredentialsRequest> RedshiftCredentialsRequest::create()
{
    return std::shared_ptr<RedshiftCredentialsRequest>(new RedshiftCredentialsRequest());
}

std::variant<URLRequest, TransportError> RedshiftCredentialsRequest::prepare()
{
    const QString region = awsRegion.value_or(QString());
    auto endpoint = AWSEndpoint("AWS_ENDPOINT_URL_REDSHIFT", serviceType).url(region);
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;
    QUrl url = std::get<QUrl>(std::move(endpoint));

    parameters.removeIf([](const URLQueryItem &item) { return item.name == u"Action"; });
    parameters.append({ QStringLiteral("Action"), QStringLiteral("GetClusterCredentials") });
    setQueryItems(url, parameters);

    URLRequest request(url);
    request.method = QStringLiteral("POST");
    const AWSURLRequestSigner signer(serviceType, region, accessKeyID.value_or(QString()),
        secretAccessKey.value_or(QString()), sessionToken.value_or(QString()));
    auto signedRequest
        = signer.sign(request, signingTime.value_or(QDateTime::currentDateTimeUtc()));
    if (const SigningError *error = std::get_if<SigningError>(&signedRequest))
        return TransportError { TransportError::Kind::Configuration, error->description };
    return std::get<URLRequest>(std::move(signedRequest));
}

QPointer<URLSessionTask> RedshiftCredentialsRequest::start(
    URLSession &session, Completion completion)
{
    return AWSRequest::send<CredentialsResult>(
        session, prepare(), &RedshiftCredentialsRequest::credentialsResult, std::move(completion));
}

CredentialsResult RedshiftCredentialsRequest::credentialsResult(
    const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError)
{
    const AWSXMLReply reply = AWSXMLReply::read(body.value_or(QByteArray()));
    CredentialsResult result;
    // A credential whose element never closed was cut off by a malformed reply: opening a
    // URL with it would only fail later.
    result.dbUser = reply.completeContents(QStringLiteral("DbUser"));
    result.dbPassword = reply.completeContents(QStringLiteral("DbPassword"));
    result.errorMessage = reply.contents(QStringLiteral("Message"));
    if (!result.errorMessage)
        result.errorMessage = reply.contents(QStringLiteral("Error"));
    result.transportError = transportError;
    return result;
}
