#include "RedshiftServerlessCredentialsRequest.h"

#include "AWSEndpoint.h"
#include "AWSRequest.h"

#include <QJsonDocument>
#include <QJsonObject>

std::shared_ptr<RedshiftServerlessCredentialsRequest> RedshiftServerlessCredentialsRequest::create()
{
    return std::shared_ptr<RedshiftServerlessCredentialsRequest>(
        new RedshiftServerlessCredentialsRequest());
}

std::variant<URLRequest, TransportError> RedshiftServerlessCredentialsRequest::prepare() const
{
    const QString service = QStringLiteral("redshift-serverless");
    auto endpoint = AWSEndpoint("AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS", service)
                        .url(awsRegion.value_or(QString()));
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;

    QJsonObject body { { QStringLiteral("workgroupName"), workgroupName } };
    if (dbName)
        body.insert(QStringLiteral("dbName"), *dbName);
    if (durationSeconds) {
        bool isNumber = false;
        const qint64 seconds = durationSeconds->toLongLong(&isNumber);
        body.insert(QStringLiteral("durationSeconds"),
            isNumber ? QJsonValue(seconds) : QJsonValue(*durationSeconds));
    }
    URLRequest request(std::get<QUrl>(std::move(endpoint)));
    request.addValue(QStringLiteral("application/x-amz-json-1.1"), QStringLiteral("Content-Type"));
    request.addValue(
        QStringLiteral("RedshiftServerless.GetCredentials"), QStringLiteral("X-Amz-Target"));
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return signedPost(service, std::move(request));
}

QPointer<URLSessionTask> RedshiftServerlessCredentialsRequest::start(
    URLSession &session, Completion completion)
{
    return AWSRequest::send<CredentialsResult>(session, prepare(),
        &RedshiftServerlessCredentialsRequest::credentialsResult, std::move(completion));
}

CredentialsResult RedshiftServerlessCredentialsRequest::credentialsResult(
    const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError)
{
    CredentialsResult result;
    result.transportError = transportError;
    const QJsonObject reply = QJsonDocument::fromJson(body.value_or(QByteArray())).object();
    const auto text = [&reply](const QString &name) -> std::optional<QString> {
        const QJsonValue value = reply.value(name);
        return value.isString() ? std::optional(value.toString()) : std::nullopt;
    };
    result.dbUser = text(QStringLiteral("dbUser"));
    result.dbPassword = text(QStringLiteral("dbPassword"));

    // "com.amazonaws.redshiftserverless#ValidationException"; some services append ":<URL>".
    std::optional<QString> code = text(QStringLiteral("__type"));
    if (code)
        code = code->section(u'#', -1).section(u':', 0, 0);
    std::optional<QString> message = text(QStringLiteral("message"));
    if (!message)
        message = text(QStringLiteral("Message"));
    if (code && message)
        result.errorMessage = *code + QStringLiteral(": ") + *message;
    else
        result.errorMessage = code ? code : message;
    return result;
}
