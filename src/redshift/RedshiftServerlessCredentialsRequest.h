#pragma once

#include "CredentialsResult.h"
#include "RedshiftCall.h"
#include "TransportError.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

class URLSession;
class URLSessionTask;

// Asks Redshift Serverless for temporary database credentials for a workgroup
// (GetCredentials, a JSON call): builds and signs the POST, sends it on the caller's
// session, reads the JSON reply off the main thread and delivers a CredentialsResult on the
// main thread. Made with create(), filled by the caller, started once.
class RedshiftServerlessCredentialsRequest : public RedshiftCall {
public:
    using Completion = std::function<void(const CredentialsResult &)>;

    static std::shared_ptr<RedshiftServerlessCredentialsRequest> create();

    // Filled by the caller before start(), with the keys and region; the absent ones are
    // left out of the call.
    QString workgroupName;
    std::optional<QString> dbName;
    // Sent as a number when it is one, else as given, for the service to refuse.
    std::optional<QString> durationSeconds;

    // As RedshiftCredentialsRequest::start.
    QPointer<URLSessionTask> start(URLSession &session, Completion completion);

    // The signed POST / that start() sends to AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS, else
    // AWS_ENDPOINT_URL, else the regional endpoint, or why it cannot be made.
    std::variant<URLRequest, TransportError> prepare() const;

    // What a reply means, whatever its HTTP status: the strings dbUser and dbPassword, the
    // error as "<code>: <message>" from __type (its name after "#") and message or Message,
    // either alone when the other is missing, and the transport error as given. A body that
    // is no JSON object gives neither.
    static CredentialsResult credentialsResult(
        const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError);

private:
    RedshiftServerlessCredentialsRequest() = default;
};
