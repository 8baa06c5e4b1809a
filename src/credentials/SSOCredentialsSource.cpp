#include "SSOCredentialsSource.h"

#include "AWSEndpoint.h"
#include "DisplayedText.h"
#include "URLQueryItem.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

SSOCredentialsSource::SSOCredentialsSource(HttpSend send, Role role)
    : m_send(std::move(send))
    , m_role(std::move(role))
{
}

void SSOCredentialsSource::start()
{
    const std::optional<QString> token = cachedToken();
    if (!token) {
        finishLater(Alert { QStringLiteral("AWS SSO login needed"),
            QStringLiteral("The profile \"%1\" signs in through AWS IAM Identity Center, and "
                           "%2 holds no token for it that is still valid. Run:\n"
                           "aws sso login --profile %1")
                .arg(displayedText(m_role.profile),
                    displayedText(QDir::homePath() + QStringLiteral("/.aws/sso/cache"))) });
        return;
    }
    send(m_send, request(*token), std::bind_front(&reply, m_role.profile));
}

std::optional<QString> SSOCredentialsSource::cachedToken() const
{
    // Named as the AWS CLI names it: the SHA-1 of the session's name, or of the start URL.
    const QByteArray key = m_role.sessionName.value_or(m_role.startURL).toUtf8();
    QFile file(QDir::homePath() + QStringLiteral("/.aws/sso/cache/")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex())
        + QStringLiteral(".json"));
    // A regular file only: a pipe there would block.
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject cached = QJsonDocument::fromJson(file.read(1024 * 1024)).object();
    const QString token = cached[u"accessToken"].toString();
    QString expiresAt = cached[u"expiresAt"].toString();
    // Older caches write "...UTC" where ISO 8601 has "Z".
    if (expiresAt.endsWith(u"UTC"))
        expiresAt.replace(expiresAt.size() - 3, 3, QStringLiteral("Z"));
    const QDateTime expiry = QDateTime::fromString(expiresAt, Qt::ISODateWithMs);
    if (token.isEmpty() || !expiry.isValid() || expiry <= QDateTime::currentDateTimeUtc())
        return std::nullopt;
    return token;
}

std::variant<URLRequest, TransportError> SSOCredentialsSource::request(
    const QString &accessToken) const
{
    auto endpoint
        = AWSEndpoint("AWS_ENDPOINT_URL_SSO", QStringLiteral("portal.sso")).url(m_role.region);
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;
    QUrl url = std::get<QUrl>(std::move(endpoint));
    url.setPath(QStringLiteral("/federation/credentials"));
    setQueryItems(url,
        { { QStringLiteral("role_name"), m_role.roleName },
            { QStringLiteral("account_id"), m_role.accountId } });
    URLRequest request(url);
    request.method = QStringLiteral("GET");
    request.addValue(accessToken, QStringLiteral("x-amz-sso_bearer_token"));
    return request;
}

CredentialsSource::Result SSOCredentialsSource::reply(
    const QString &profile, const HttpReply &reply)
{
    const QJsonObject object = QJsonDocument::fromJson(reply.body.value_or(QByteArray())).object();
    const QJsonObject role = object[u"roleCredentials"].toObject();
    const QString keyId = role[u"accessKeyId"].toString();
    const QString secret = role[u"secretAccessKey"].toString();
    const QString token = role[u"sessionToken"].toString();
    if (!reply.transportError && !keyId.isEmpty() && !secret.isEmpty())
        return AWSCredentials { keyId, secret,
            token.isEmpty() ? std::nullopt : std::optional(token) };

    std::optional<QString> message;
    for (const auto name : { u"message", u"Message" }) {
        if (!message && object[name].isString())
            message = object[name].toString();
    }
    return AWSRequest::failureAlert(reply.transportError, message,
        QStringLiteral("AWS SSO GetRoleCredentials for the profile \"%1\" failed.")
            .arg(displayedText(profile)));
}
