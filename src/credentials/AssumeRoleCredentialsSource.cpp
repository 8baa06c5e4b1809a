#include "AssumeRoleCredentialsSource.h"

#include "AWSEndpoint.h"
#include "AWSXMLReply.h"
#include "DisplayedText.h"
#include "URLQueryItem.h"

#include <QDateTime>

AssumeRoleCredentialsSource::AssumeRoleCredentialsSource(
    HttpSend send, DesktopServices &desktop, std::unique_ptr<CredentialsSource> source, Role role)
    : m_send(std::move(send))
    , m_desktop(desktop)
    , m_source(std::move(source))
    , m_role(std::move(role))
{
}

void AssumeRoleCredentialsSource::start()
{
    m_source->fetch([this](const Result &result) { sourceFinished(result); });
}

void AssumeRoleCredentialsSource::stop()
{
    m_source->cancel();
    // The question may stay open: its answer is then ignored.
    if (std::exchange(m_asking, false))
        finishLater(cancelledAlert());
}

void AssumeRoleCredentialsSource::sourceFinished(const Result &result)
{
    const auto *credentials = std::get_if<AWSCredentials>(&result);
    if (!credentials || isCancelled())
        return finish(result);
    if (!m_role.mfaSerial)
        return assumeRole(*credentials, std::nullopt);
    m_asking = true;
    m_desktop.showStatus(QStringLiteral("Waiting for the MFA code…"));
    m_desktop.askForText(
        QStringLiteral("Enter MFA code for %1:").arg(displayedText(*m_role.mfaSerial)),
        [self = QPointer(this), credentials = *credentials](const std::optional<QString> &code) {
            if (!self || !std::exchange(self->m_asking, false))
                return;
            if (code && !code->isEmpty()) {
                self->m_desktop.showStatus(QStringLiteral("Finding AWS keys…"));
                return self->assumeRole(credentials, code);
            }
            self->finishLater(Alert { QStringLiteral("No MFA code"),
                QStringLiteral("The profile \"%1\" assumes its role with the MFA device %2, "
                               "and no code was entered.")
                    .arg(displayedText(self->m_role.profile),
                        displayedText(*self->m_role.mfaSerial)) });
        });
}

void AssumeRoleCredentialsSource::assumeRole(
    const AWSCredentials &credentials, const std::optional<QString> &tokenCode)
{
    send(m_send, request(credentials, tokenCode), std::bind_front(&reply, m_role.profile));
}

std::variant<URLRequest, TransportError> AssumeRoleCredentialsSource::request(
    const AWSCredentials &credentials, const std::optional<QString> &tokenCode) const
{
    auto endpoint = AWSEndpoint("AWS_ENDPOINT_URL_STS", QStringLiteral("sts")).url(m_role.region);
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;
    QUrl url = std::get<QUrl>(std::move(endpoint));
    url.setPath(QStringLiteral("/"));

    URLQueryItems items { { QStringLiteral("Action"), QStringLiteral("AssumeRole") },
        { QStringLiteral("Version"), QStringLiteral("2011-06-15") },
        { QStringLiteral("RoleArn"), m_role.roleArn },
        { QStringLiteral("RoleSessionName"),
            m_role.roleSessionName.value_or(
                QStringLiteral("iamlink-%1").arg(QDateTime::currentSecsSinceEpoch())) } };
    // As the AWS CLI does, a duration that is no number is left out.
    bool isNumber = false;
    if (m_role.durationSeconds && (m_role.durationSeconds->toInt(&isNumber), isNumber))
        items.append({ QStringLiteral("DurationSeconds"), *m_role.durationSeconds });
    if (m_role.externalId)
        items.append({ QStringLiteral("ExternalId"), *m_role.externalId });
    if (m_role.mfaSerial && tokenCode) {
        items.append({ QStringLiteral("SerialNumber"), *m_role.mfaSerial });
        items.append({ QStringLiteral("TokenCode"), *tokenCode });
    }
    URLRequest request(url);
    request.method = QStringLiteral("POST");
    request.body = encodedQuery(items);
    request.addValue(QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"),
        QStringLiteral("Content-Type"));
    return AWSRequest::signedRequest(QStringLiteral("sts"), m_role.region, credentials, request);
}

CredentialsSource::Result AssumeRoleCredentialsSource::reply(
    const QString &profile, const HttpReply &reply)
{
    return stsReply(
        QStringLiteral("STS AssumeRole for the profile \"%1\" failed.").arg(displayedText(profile)),
        reply);
}

CredentialsSource::Result AssumeRoleCredentialsSource::stsReply(
    const QString &context, const HttpReply &reply)
{
    const AWSXMLReply xml = AWSXMLReply::read(reply.body.value_or(QByteArray()));
    const auto keyId = xml.completeContents(QStringLiteral("AccessKeyId"));
    const auto secret = xml.completeContents(QStringLiteral("SecretAccessKey"));
    const auto token = xml.completeContents(QStringLiteral("SessionToken"));
    if (!reply.transportError && keyId && secret && token && !keyId->isEmpty()
        && !secret->isEmpty())
        return AWSCredentials { *keyId, *secret, token->isEmpty() ? std::nullopt : token };

    std::optional<QString> message = xml.contents(QStringLiteral("Message"));
    if (message)
        message = xml.contents(QStringLiteral("Code")).value_or(QString()) + QStringLiteral(": ")
            + *message;
    return AWSRequest::failureAlert(reply.transportError, message, context);
}
