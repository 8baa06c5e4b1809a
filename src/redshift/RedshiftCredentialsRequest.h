#pragma once

#include "CredentialsResult.h"
#include "RedshiftCall.h"
#include "TransportError.h"
#include "URLQueryItem.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QPointer>

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
class RedshiftCredentialsRequest : public RedshiftCall {
public:
    using Completion = std::function<void(const CredentialsResult &)>;

    static std::shared_ptr<RedshiftCredentialsRequest> create();

    // Filled by the caller before start(), with the keys and region; sent in this order.
    URLQueryItems parameters;

    // Sends the call on `session` and returns its running task; `completion` runs exactly
    // once, later, on the main thread. When nothing can be sent (an unusable endpoint
    // override or CA bundle) the task is null and the failure reaches `completion` all the
    // same.
    QPointer<URLSessionTask> start(URLSession &session, Completion completion);

    // The signed POST that start() sends, or why it cannot be made: `parameters` without
    // their Version and Action items, then Version=2012-12-01 and Action=GetClusterCredentials.
    std::variant<URLRequest, TransportError> prepare() const;

    // What a reply means, whatever its HTTP status: DbUser and DbPassword when their elements
    // closed, the text of Message (else Error), and the transport error as given.
    static CredentialsResult credentialsResult(
        const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError);

private:
    RedshiftCredentialsRequest() = default;
};
