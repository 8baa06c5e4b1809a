#include "RedshiftServerlessCredentialsRequest.h"

#include "AWSEndpoint.h"
#include "AWSRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

std::variant<URLRequest, TransportError> RedshiftServerlessCredentialsRequest::request(
    const AWSCredentials &credentials,
    const QString &region,
    const Parameters &parameters,
    const QDateTime &now)
{
    const QString service = QStringLiteral("redshift-serverless");
    auto endpoint = AWSEndpoint("AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS", service).url(region);
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;

    QJsonObject body { { QStringLiteral("workgroupName"), parameters.workgroupName } };
    if (parameters.dbName)
        body.insert(QStringLiteral("dbName"), *parameters.dbName);
    if (const auto &duration = parameters.durationSeconds) {
        bool isNumber = false;
        const qint64 seconds = duration->toLongLong(&isNumber);
        body.insert(QStringLiteral("durationSeconds"),
            isNumber ? QJsonValue(seconds) : QJsonValue(*duration));
    }
    URLRequest request(std::get<QUrl>(std::move(endpoint)));
    request.method = QStringLiteral("POST");
    request.addValue(QStringLiteral("application/x-amz-json-1.1"), QStringLiteral("Content-Type"));
    request.addValue(
        QStringLiteral("RedshiftServerless.GetCredentials"), QStringLiteral("X-Amz-Target"));
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return AWSRequest::signedRequest(service, region, credentials, request, now);
}

CredentialsResult RedshiftServerlessCredentialsRequest::result(const HttpReply &reply)
{
    CredentialsResult result;
    result.transportError = reply.transportError;
    const QJsonObject json = QJsonDocument::fromJson(reply.body.value_or(QByteArray())).object();
    const auto text = [&json](const QString &name) -> std::optional<QString> {
        const QJsonValue value = json.value(name);
        return value.isString() ? std::optional(value.toString()) : std::nullopt;
    };
    result.dbUser = text(QStringLiteral("dbUser"));
    result.dbPassword = text(QStringLiteral("dbPassword"));
    // Seconds since the epoch, as the AWS JSON protocols write a timestamp.
    if (const QJsonValue expiration = json.value(u"expiration"); expiration.isDouble())
        result.expiration
            = QDateTime::fromSecsSinceEpoch(qint64(expiration.toDouble()), QTimeZone::utc());

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
