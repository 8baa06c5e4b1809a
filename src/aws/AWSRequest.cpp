#include "AWSRequest.h"

#include "AWSURLRequestSigner.h"

std::variant<URLRequest, TransportError> AWSRequest::signedRequest(const QString &service,
    const QString &region,
    const QString &accessKeyId,
    const QString &secretAccessKey,
    const QString &sessionToken,
    const URLRequest &request,
    const QDateTime &now)
{
    const AWSURLRequestSigner signer(service, region, accessKeyId, secretAccessKey, sessionToken);
    auto signedRequest = signer.sign(request, now);
    if (const SigningError *error = std::get_if<SigningError>(&signedRequest))
        return TransportError { TransportError::Kind::Configuration, error->description };
    return std::get<URLRequest>(std::move(signedRequest));
}
