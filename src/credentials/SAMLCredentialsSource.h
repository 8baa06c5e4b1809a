#pragma once

#include "CredentialsSource.h"
#include "SAMLAssertion.h"
#include "SAMLResponseListener.h"

#include <QTimer>
#include <QUrl>

#include <chrono>
#include <optional>

// The JDBC driver's BrowserSamlCredentialsProvider: the identity provider's login page opened
// in the browser, its SAML response taken from the form the browser posts to 127.0.0.1 at the
// listen port, one of the roles it offers chosen (the preferred one, else the only one, else
// the user's choice), then STS AssumeRoleWithSAML, unsigned, at AWS_ENDPOINT_URL_STS or
// https://sts.<region>.amazonaws.com for the keys.
class SAMLCredentialsSource : public CredentialsSource {
    Q_OBJECT
public:
    struct Settings {
        QUrl loginURL;
        quint16 listenPort = 7890;
        int timeoutSeconds = 120;
        std::optional<QString> preferredRole;
        QString region; // where STS is called
    };

    // The settings that the URL's items give: login_url (required, https), listen_port
    // (default 7890), idp_response_timeout (seconds, default 120) and preferred_role; or the
    // alert that says what is wrong with them.
    static std::variant<Settings, Alert> settings(const std::optional<QString> &loginURL,
        const std::optional<QString> &listenPort,
        const std::optional<QString> &timeoutSeconds,
        const std::optional<QString> &preferredRole,
        const QString &region);

    SAMLCredentialsSource(HttpSend send, DesktopServices &desktop, Settings settings);
    ~SAMLCredentialsSource() override;

    // How long one second of the wait for the identity provider lasts: tests shorten it.
    static inline std::chrono::milliseconds timeoutSecond = std::chrono::seconds(1);

    // What the identity provider said, once the keys have come.
    const SAMLAssertion &assertion() const { return m_assertion; }

    // The AssumeRoleWithSAML call for `role` with the base64 `samlResponse`.
    std::variant<URLRequest, TransportError> request(
        const SAMLAssertion::Role &role, const QByteArray &samlResponse) const;

protected:
    void start() override;
    // Stops listening, the sign-in and the question.
    void stop() override;

private:
    void received(const SAMLResponseListener::Received &received);
    void assumeRole(const SAMLAssertion::Role &role);
    void endSignIn();
    Alert rolesAlert(const QString &messageText, const QString &problem) const;

    HttpSend m_send;
    DesktopServices &m_desktop;
    Settings m_settings;
    SAMLResponseListener m_listener;
    QTimer m_timeout;
    bool m_showing = false;
    bool m_asking = false;
    QByteArray m_samlResponse;
    SAMLAssertion m_assertion;
};
