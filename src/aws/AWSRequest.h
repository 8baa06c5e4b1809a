#pragma once

#include "AWSCredentials.h"
#include "DesktopServices.h"
#include "HttpClient.h"

#include <QDateTime>
#include <QTimer>

#include <functional>
#include <optional>
#include <variant>

// Signing an AWS call, sending it, and saying why it failed.
namespace AWSRequest {

// `request` signed with AWS Signature Version 4 for `service` in `region` with `credentials`
// at `now`, or why it cannot be signed as a Configuration error.
std::variant<URLRequest, TransportError> signedRequest(const QString &service,
    const QString &region,
    const AWSCredentials &credentials,
    const URLRequest &request,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

// Sends `request` with `send`: `read` makes the result of the reply and `deliver` gets it once,
// later, on the main thread. A request that could not be made is not sent: `read` gets its
// error as the reply instead, and the handle is null.
template <class Result>
QPointer<Cancellable> send(const HttpSend &send,
    const std::variant<URLRequest, TransportError> &request,
    std::function<Result(const HttpReply &)> read,
    std::function<void(const Result &)> deliver)
{
    if (const auto *error = std::get_if<TransportError>(&request)) {
        QTimer::singleShot(
            0, [deliver, result = read({ .transportError = *error })] { deliver(result); });
        return nullptr;
    }
    return send(std::get<URLRequest>(request),
        [read = std::move(read), deliver = std::move(deliver)](
            const HttpReply &reply) { deliver(read(reply)); });
}

// The alert for an AWS call that failed: "Failed to get credentials from AWS", and as its
// text `context` (which call failed, if the caller says), the transport error or the HTTP
// status, then the service's own message, each on a line of its own and shown as text that
// cannot drive a terminal.
Alert failureAlert(const std::optional<TransportError> &transportError,
    const std::optional<QString> &serviceMessage,
    const QString &context = {});

} // namespace AWSRequest
