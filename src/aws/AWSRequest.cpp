#include "AWSRequest.h"

#include "AWSURLRequestSigner.h"
#include "DisplayedText.h"

std::variant<URLRequest, TransportError> AWSRequest::signedRequest(const QString &service,
    const QString &region,
    const AWSCredentials &credentials,
    const URLRequest &request,
    const QDateTime &now)
{
    auto signedRequest = AWSURLRequestSigner(service, region, credentials).sign(request, now);
    if (const SigningError *error = std::get_if<SigningError>(&signedRequest))
        return TransportError { TransportError::Kind::Configuration, error->description };
    return std::get<URLRequest>(std::move(signedRequest));
}

Alert AWSRequest::failureAlert(const std::optional<TransportError> &transportError,
    const std::optional<QString> &serviceMessage,
    const QString &context)
{
    QString text = context.isEmpty() ? QString() : context + u'\n';
    if (transportError)
        text += displayedText(transportError->description) + u'\n';
    if (serviceMessage)
        text += displayedText(*serviceMessage) + u'\n';
    if (!transportError && !serviceMessage)
        text += QStringLiteral("The reply held no usable answer and no error message.\n");
    return { QStringLiteral("Failed to get credentials from AWS"), text };
}
