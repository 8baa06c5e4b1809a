#include "SSOCredentialsSource.h"

#include "AWSEndpoint.h"
#include "DisplayedText.h"
#include "URLQueryItem.h"

#include <QJsonDocument>
#include <QJsonObject>

SSOCredentialsSource::SSOCredentialsSource(HttpSend send, DesktopServices &desktop, Role role)
    : m_send(std::move(send))
    , m_desktop(desktop)
    , m_role(std::move(role))
{
}

void SSOCredentialsSource::start()
{
    m_signIn = new SSOSignIn(m_send, m_desktop, m_role.session, this);
    m_signIn->fetch([this](const SSOSignIn::Result &result) {
        m_signIn->deleteLater();
        if (const Alert *alert = std::get_if<Alert>(&result))
            return finish(*alert);
        send(m_send, request(std::get<QString>(result)),
            std::bind_front(&reply, m_role.session.profile));
    });
}

void SSOCredentialsSource::stop()
{
    if (m_signIn)
        m_signIn->cancel();
}

std::variant<URLRequest, TransportError> SSOCredentialsSource::request(
    const QString &accessToken) const
{
    auto endpoint = AWSEndpoint("AWS_ENDPOINT_URL_SSO", QStringLiteral("portal.sso"))
                        .url(m_role.session.region);
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
