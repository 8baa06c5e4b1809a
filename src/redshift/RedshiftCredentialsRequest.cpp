#include "RedshiftCredentialsRequest.h"

#include "AWSRequest.h"
#include "AWSXMLReply.h"

std::shared_ptr<RedshiftCredentialsRequest> RedshiftCredentialsRequest::create()
{
    return std::shared_ptr<RedshiftCredentialsRequest>(new RedshiftCredentialsRequest());
}

std::variant<URLRequest, TransportError> RedshiftCredentialsRequest::prepare() const
{
    return queryCall(QStringLiteral("GetClusterCredentials"), parameters);
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
    result.errorMessage = errorMessage(reply);
    result.transportError = transportError;
    return result;
}
