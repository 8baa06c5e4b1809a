#pragma once

#include "AWSEndpoint.h"
#include "MainThread.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QPointer>

#include <functional>
#include <optional>
#include <variant>

// Sending an AWS call and bringing its result back to the main thread.
namespace AWSRequest {

// Turns a reply's body and transport error into the call's result.
template <class Result>
using Reader = std::function<Result(
    const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError)>;

// Sends `request` on `session`, trusting AWS_CA_BUNDLE's certificates for https: `read` makes
// the Result on the session's thread, `deliver` gets it once, later, on the main thread.
// Nothing is sent for a request that could not be made or an unusable bundle: `read` gets
// that Configuration error instead, and the task is null.
template <class Result>
QPointer<URLSessionTask> send(URLSession &session,
    std::variant<URLRequest, TransportError> request,
    Reader<Result> read,
    std::function<void(Result)> deliver)
{
    const auto failure = [&read, &deliver](const TransportError &error) {
        MainThread::post([deliver, result = read(std::nullopt, error)] { deliver(result); });
        return nullptr;
    };
    if (const TransportError *error = std::get_if<TransportError>(&request))
        return failure(*error);
    URLRequest &sent = std::get<URLRequest>(request);
    auto certificates = AWSEndpoint::additionalCACertificates(sent.url);
    if (const TransportError *error = std::get_if<TransportError>(&certificates))
        return failure(*error);

    URLSession::Configuration configuration;
    configuration.additionalCACertificates = std::get<QList<QSslCertificate>>(certificates);
    URLSessionTask *task = session.dataTask(
        sent,
        [read, deliver](std::optional<QByteArray> body, std::optional<HTTPURLResponse>,
            std::optional<TransportError> transportError) {
            MainThread::post([deliver, result = read(body, transportError)] { deliver(result); });
        },
        std::move(configuration));
    task->resume();
    return task;
}

} // namespace AWSRequest
