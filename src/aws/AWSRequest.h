#pragma once

#include "AWSEndpoint.h"
#include "MainThread.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QDateTime>
#include <QPointer>

#include <functional>
#include <optional>
#include <variant>

// Signing an AWS call, sending it and bringing its result back to the main thread.
namespace AWSRequest {

// `request` signed with AWS Signature Version 4 for `service` in `region` with these keys at
// `now`, or why it cannot be signed as a Configuration error.
std::variant<URLRequest, TransportError> signedRequest(const QString &service,
    const QString &region,
    const QString &accessKeyId,
    const QString &secretAccessKey,
    const QString &sessionToken,
    const URLRequest &request,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

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
