#pragma once

#include "CredentialsSource.h"
#include "SSOSignIn.h"

#include <QPointer>

// A profile's single sign-on: the access token of SSOSignIn (cached, renewed or signed in
// anew), then the portal's GetRoleCredentials at AWS_ENDPOINT_URL_SSO or
// https://portal.sso.<sso_region>.amazonaws.com.
class SSOCredentialsSource : public CredentialsSource {
    Q_OBJECT
public:
    struct Role {
        SSOSignIn::Session session;
        QString accountId;
        QString roleName;
    };

    SSOCredentialsSource(HttpSend send, DesktopServices &desktop, Role role);

    // The GetRoleCredentials call with `accessToken`, or why it cannot be made.
    std::variant<URLRequest, TransportError> request(const QString &accessToken) const;
    // What a reply means: the roleCredentials when they are whole, else an alert quoting the
    // service's message or the transport error.
    static Result reply(const QString &profile, const HttpReply &reply);

protected:
    void start() override;
    // Stops the sign-in.
    void stop() override;

private:
    HttpSend m_send;
    DesktopServices &m_desktop;
    Role m_role;
    QPointer<SSOSignIn> m_signIn;
};
