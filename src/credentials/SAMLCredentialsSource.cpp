#include "SAMLCredentialsSource.h"

#include "AWSEndpoint.h"
#include "AssumeRoleCredentialsSource.h"
#include "DisplayedText.h"

namespace {

const QString incomplete = QStringLiteral("Incomplete Redshift IAM URL");

// A whole number within [minimum, maximum], or absent.
std::optional<int> number(const QString &text, int minimum, int maximum)
{
    bool isNumber = false;
    const int value = text.toInt(&isNumber);
    return isNumber && value >= minimum && value <= maximum ? std::optional(value) : std::nullopt;
}

} // namespace

std::variant<SAMLCredentialsSource::Settings, Alert> SAMLCredentialsSource::settings(
    const std::optional<QString> &loginURL,
    const std::optional<QString> &listenPort,
    const std::optional<QString> &timeoutSeconds,
    const std::optional<QString> &preferredRole,
    const QString &region)
{
    Settings settings { QUrl(loginURL.value_or(QString()), QUrl::StrictMode), 7890, 120,
        preferredRole && !preferredRole->isEmpty() ? preferredRole : std::nullopt, region };
    if (!loginURL || loginURL->isEmpty())
        return Alert { incomplete,
            QStringLiteral("The SAML sign-in needs login_url, your identity provider's sign-in "
                           "page for AWS.") };
    // The page comes from a pasted URL and goes to the browser: a web page, nothing else.
    if (!settings.loginURL.isValid() || settings.loginURL.scheme() != u"https"
        || settings.loginURL.host().isEmpty())
        return Alert { QStringLiteral("Unsafe login_url"),
            QStringLiteral("iamlink opens only an https page for the SAML sign-in, and the "
                           "login_url is not one (%1).")
                .arg(settings.loginURL.isValid() && !settings.loginURL.scheme().isEmpty()
                        ? QStringLiteral("its scheme is ")
                            + displayedText(settings.loginURL.scheme())
                        : QStringLiteral("it is no URL")) };
    if (listenPort) {
        const auto port = number(*listenPort, 1, 65535);
        if (!port)
            return Alert { incomplete,
                QStringLiteral("The listen_port is no port number: %1")
                    .arg(displayedText(*listenPort)) };
        settings.listenPort = quint16(*port);
    }
    if (timeoutSeconds) {
        const auto seconds = number(*timeoutSeconds, 1, 24 * 60 * 60);
        if (!seconds)
            return Alert { incomplete,
                QStringLiteral("The idp_response_timeout is no number of seconds: %1")
                    .arg(displayedText(*timeoutSeconds)) };
        settings.timeoutSeconds = *seconds;
    }
    return settings;
}

SAMLCredentialsSource::SAMLCredentialsSource(
    HttpSend send, DesktopServices &desktop, Settings settings)
    : m_send(std::move(send))
    , m_desktop(desktop)
    , m_settings(std::move(settings))
{
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        endSignIn();
        finish(Alert { QStringLiteral("No answer from the identity provider"),
            QStringLiteral("No SAML response came to 127.0.0.1:%1 within %2 s.")
                .arg(m_settings.listenPort)
                .arg(m_settings.timeoutSeconds) });
    });
}

SAMLCredentialsSource::~SAMLCredentialsSource()
{
    if (m_showing)
        m_desktop.endBrowserSignIn();
}

void SAMLCredentialsSource::start()
{
    const auto problem = m_listener.listen(m_settings.listenPort,
        [this](const SAMLResponseListener::Received &form) { received(form); });
    if (problem) {
        finishLater(Alert { QStringLiteral("Cannot wait for the identity provider"),
            QStringLiteral("iamlink cannot listen on 127.0.0.1:%1 for your identity provider's "
                           "answer (%2). Close what uses that port, or name the one your "
                           "identity provider answers to with listen_port.")
                .arg(m_settings.listenPort)
                .arg(displayedText(*problem)) });
        return;
    }
    m_timeout.start(m_settings.timeoutSeconds * timeoutSecond);
    m_showing = true;
    m_desktop.showStatus(QStringLiteral("Waiting for your identity provider…"));
    m_desktop.beginBrowserSignIn(
        QStringLiteral("Sign in with your identity provider in the browser. iamlink waits for "
                       "its answer on 127.0.0.1:%1 for %2 s. The sign-in page:")
            .arg(m_settings.listenPort)
            .arg(m_settings.timeoutSeconds),
        m_settings.loginURL, true, [self = QPointer(this)] {
            if (self)
                self->cancel();
        });
}

void SAMLCredentialsSource::stop()
{
    m_listener.close();
    m_timeout.stop();
    endSignIn();
    // A question may stay open: its answer is then ignored.
    m_asking = false;
    finishLater(cancelledAlert());
}

void SAMLCredentialsSource::endSignIn()
{
    m_listener.close();
    m_timeout.stop();
    if (std::exchange(m_showing, false))
        m_desktop.endBrowserSignIn();
}

Alert SAMLCredentialsSource::rolesAlert(const QString &messageText, const QString &problem) const
{
    QStringList roles;
    for (const SAMLAssertion::Role &role : m_assertion.roles)
        roles.append(displayedText(role.roleArn));
    return { messageText, problem + QStringLiteral(" It offers:\n") + roles.join(u'\n') };
}

void SAMLCredentialsSource::received(const SAMLResponseListener::Received &form)
{
    endSignIn();
    m_desktop.showStatus(QStringLiteral("Finding AWS keys…"));
    const QString *refused = std::get_if<QString>(&form);
    auto read = refused ? std::variant<SAMLAssertion, QString>(*refused)
                        : SAMLAssertion::read(std::get<QByteArray>(form));
    if (const QString *problem = std::get_if<QString>(&read))
        return finish(Alert { QStringLiteral("Unusable answer from the identity provider"),
            QStringLiteral("The SAML response %1.").arg(*problem) });
    m_samlResponse = std::get<QByteArray>(form);
    m_assertion = std::get<SAMLAssertion>(std::move(read));
    const QList<SAMLAssertion::Role> &roles = m_assertion.roles;

    if (const auto &preferred = m_settings.preferredRole) {
        const auto role = std::find_if(roles.cbegin(), roles.cend(),
            [&](const SAMLAssertion::Role &offered) { return offered.roleArn == *preferred; });
        if (role == roles.cend())
            return finish(rolesAlert(QStringLiteral("AWS role not offered"),
                QStringLiteral("Your identity provider does not offer the preferred_role %1.")
                    .arg(displayedText(*preferred))));
        return assumeRole(*role);
    }
    if (roles.size() == 1)
        return assumeRole(roles.first());
    QStringList choices;
    for (const SAMLAssertion::Role &role : roles)
        choices.append(displayedText(role.roleArn));
    m_asking = true;
    m_desktop.askForChoice(QStringLiteral("Choose the AWS role to sign in with:"), choices,
        [self = QPointer(this)](const std::optional<qsizetype> &index) {
            if (!self || !std::exchange(self->m_asking, false))
                return;
            if (index && *index >= 0 && *index < self->m_assertion.roles.size())
                return self->assumeRole(self->m_assertion.roles.at(*index));
            self->finishLater(self->rolesAlert(QStringLiteral("Choose an AWS role"),
                QStringLiteral("Your identity provider offers several roles: name one with "
                               "preferred_role in the URL.")));
        });
}

void SAMLCredentialsSource::assumeRole(const SAMLAssertion::Role &role)
{
    send(m_send, request(role, m_samlResponse), [arn = role.roleArn](const HttpReply &reply) {
        return AssumeRoleCredentialsSource::stsReply(
            QStringLiteral("STS AssumeRoleWithSAML for the role %1 failed.")
                .arg(displayedText(arn)),
            reply);
    });
}

std::variant<URLRequest, TransportError> SAMLCredentialsSource::request(
    const SAMLAssertion::Role &role, const QByteArray &samlResponse) const
{
    auto endpoint
        = AWSEndpoint("AWS_ENDPOINT_URL_STS", QStringLiteral("sts")).url(m_settings.region);
    if (const TransportError *problem = std::get_if<TransportError>(&endpoint))
        return *problem;
    URLRequest request(std::get<QUrl>(endpoint).resolved(QUrl(QStringLiteral("/"))));
    request.method = QStringLiteral("POST");
    // The assertion is the proof: the call is not signed.
    request.body
        = encodedQuery({ { QStringLiteral("Action"), QStringLiteral("AssumeRoleWithSAML") },
            { QStringLiteral("Version"), QStringLiteral("2011-06-15") },
            { QStringLiteral("RoleArn"), role.roleArn },
            { QStringLiteral("PrincipalArn"), role.principalArn },
            { QStringLiteral("SAMLAssertion"), QString::fromLatin1(samlResponse) } });
    request.addValue(QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"),
        QStringLiteral("Content-Type"));
    return request;
}
