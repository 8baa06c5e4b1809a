#pragma once

#include "CredentialsResult.h"
#include "TransportError.h"
#include "URLQueryItem.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QDateTime>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

class URLSession;
class URLSessionTask;

// Asks the Amazon Redshift query API for temporary database credentials
// (GetClusterCredentials): builds and signs the POST, sends it on the caller's session,
// reads the XML reply off the main thread and delivers a CredentialsResult on the main
// thread. Made with create(), filled by the caller, started once.
class RedshiftCredentialsRequest {
public:
    using Completion = std::function<void(const CredentialsResult &)>;

    static std::shared_ptr<RedshiftCredentialsRequest> create();

    // Filled by the caller before start(); the request signs what it is given.
    std::optional<QString> accessKeyID;
    std::optional<QString> secretAccessKey;
    // Temporary keys come with it; sent as X-Amz-Security-Token and signed.
    std::optional<QString> sessionToken;
    URLQueryItems parameters;
    const QString serviceType = QStringLiteral("redshift");
    std::optional<QString> awsRegion;
    // The instant to sign with; absent means the current time (tests fix it).
    std::optional<QDateTime> signingTime;

    // Sends the call on `session` and returns its running task; `completion` runs exactly
    // once, later, on the main thread. When nothing can be sent (an unusable endpoint
    // override or CA bundle) the task is null and the failure reaches `completion` all the
    // same.
    QPointer<URLSessionTask> start(URLSession &session, Completion completion);

    // The signed POST that start() sends, or why it cannot be made. Replaces any "Action"
    // item of `parameters` by Action=GetClusterCredentials, last.
    std::variant<URLRequest, TransportError> prepare();

    // What a reply means, whatever its HTTP status: DbUser and DbPassword when their elements
    // closed, the text of Message (else Error), and the transport error as given.
    static CredentialsResult credentialsResult(
        const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError);

private:
    RedshiftCredentialsRequest() = default;
};
