#pragma once

#include "CredentialsSource.h"

#include <optional>

// A profile's single sign-on: the token that `aws sso login` cached in ~/.aws/sso/cache,
// then the portal's GetRoleCredentials at AWS_ENDPOINT_URL_SSO or
// https://portal.sso.<sso_region>.amazonaws.com. The token is only read, never refreshed.
class SSOCredentialsSource : public CredentialsSource {
    Q_OBJECT
public:
    struct Role {
        QString profile;
        std::optional<QString> sessionName; // the sso_session, absent in the older form
        QString startURL;
        QString region;
        QString accountId;
        QString roleName;
    };

    SSOCredentialsSource(HttpSend send, Role role);

    // The GetRoleCredentials call with `accessToken`, or why it cannot be made.
    std::variant<URLRequest, TransportError> request(const QString &accessToken) const;
    // What a reply means: the roleCredentials when they are whole, else an alert quoting the
    // service's message or the transport error.
    static Result reply(const QString &profile, const HttpReply &reply);

protected:
    void start() override;

private:
    // The cached token if there is one that has not expired.
    std::optional<QString> cachedToken() const;

    HttpSend m_send;
    Role m_role;
};
