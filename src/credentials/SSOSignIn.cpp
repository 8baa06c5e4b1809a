#include "SSOSignIn.h"

#include "AWSEndpoint.h"
#include "AWSRequest.h"
#include "CredentialsSource.h"
#include "DisplayedText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

constexpr qint64 maxCacheSize = 1024 * 1024;
// What the AWS CLI writes and reads: "2024-05-01T12:00:00Z".
QString cacheTime(const QDateTime &instant)
{
    return instant.toUTC().toString(Qt::ISODate);
}

// Whether `text`, a time in the cache, is more than `seconds` away.
bool holdsFor(const QString &text, qint64 seconds)
{
    QString iso = text;
    // Older caches write "...UTC" where ISO 8601 has "Z".
    if (iso.endsWith(u"UTC"))
        iso.replace(iso.size() - 3, 3, QStringLiteral("Z"));
    const QDateTime instant = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return instant.isValid() && instant > QDateTime::currentDateTimeUtc().addSecs(seconds);
}

QJsonObject readCache(const QString &path)
{
    QFile file(path);
    // A regular file only: a pipe there would block.
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.read(maxCacheSize)).object();
}

// As the AWS CLI keeps it: the folders made only for the owner, the file readable by the
// owner only and replaced whole. A cache that cannot be written costs the next connect a
// sign-in, not this one.
void writeCache(const QString &path, const QJsonObject &entry)
{
    const QFileInfo target(path);
    QDir folder = QDir::home();
    for (const QString &name : QDir::home().relativeFilePath(target.path()).split(u'/')) {
        if (!folder.exists(name)
            && !folder.mkdir(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            return;
        folder.cd(name);
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        && file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact)) >= 0)
        file.commit();
}

} // namespace

// What an SSO OIDC call gave: the answer, or its OAuth error (such as authorization_pending)
// and why it failed.
struct SSOSignIn::Reply {
    QJsonObject answer;
    std::optional<QString> error;
    std::optional<QString> message;
    std::optional<TransportError> transportError;

    static Reply read(const HttpReply &reply)
    {
        Reply read { {}, {}, {}, reply.transportError };
        const QJsonObject object
            = QJsonDocument::fromJson(reply.body.value_or(QByteArray())).object();
        if (!reply.transportError) {
            read.answer = object;
            return read;
        }
        // The OAuth error in the body; else the exception's name in __type or the header.
        static const QHash<QString, QString> oauthErrors {
            { QStringLiteral("AuthorizationPendingException"),
                QStringLiteral("authorization_pending") },
            { QStringLiteral("SlowDownException"), QStringLiteral("slow_down") },
            { QStringLiteral("ExpiredTokenException"), QStringLiteral("expired_token") },
            { QStringLiteral("AccessDeniedException"), QStringLiteral("access_denied") },
        };
        QString type = object[u"__type"].toString();
        for (const auto &[name, value] : reply.headerFields) {
            if (type.isEmpty() && name.compare("x-amzn-ErrorType", Qt::CaseInsensitive) == 0)
                type = QString::fromLatin1(value);
        }
        type = type.section(u'#', -1).section(u':', 0, 0);
        const QString error = object[u"error"].toString(oauthErrors.value(type, type));
        if (!error.isEmpty())
            read.error = error;
        QString message = object[u"error_description"].toString(object[u"message"].toString());
        if (!error.isEmpty())
            message = message.isEmpty() ? error : error + QStringLiteral(": ") + message;
        if (!message.isEmpty())
            read.message = message;
        return read;
    }
};

SSOSignIn::SSOSignIn(HttpSend send, DesktopServices &desktop, Session session, QObject *parent)
    : Cancellable(parent)
    , m_send(std::move(send))
    , m_desktop(desktop)
    , m_session(std::move(session))
{
    m_pollTimer.setSingleShot(true);
    // A coarse timer may fire a little early, and a poll before the interval is up is answered
    // with slow_down.
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pollTimer, &QTimer::timeout, this, &SSOSignIn::poll);
}

SSOSignIn::~SSOSignIn()
{
    if (m_showing)
        m_desktop.endBrowserSignIn();
}

QString SSOSignIn::cachePath(const Session &session)
{
    const QByteArray key = session.name.value_or(session.startURL).toUtf8();
    return QDir::homePath() + QStringLiteral("/.aws/sso/cache/")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex())
        + QStringLiteral(".json");
}

void SSOSignIn::fetch(std::function<void(const Result &)> completion)
{
    m_completion = std::move(completion);
    const QJsonObject cached = readCache(cachePath(m_session));
    const auto text = [&cached](const char16_t *name) {
        return cached[name].toString();
    };
    // A token about to expire would fail on its way.
    if (!text(u"accessToken").isEmpty() && holdsFor(text(u"expiresAt"), 60)) {
        QTimer::singleShot(0, this, [this, token = text(u"accessToken")] { finish(token); });
        return;
    }
    // Only an sso-session's token is renewed, and only with the registration it came with.
    std::optional<Registration> registration;
    if (m_session.name && !text(u"clientId").isEmpty() && !text(u"clientSecret").isEmpty()
        && holdsFor(text(u"registrationExpiresAt"), 0))
        registration = { text(u"clientId"), text(u"clientSecret"), text(u"registrationExpiresAt") };
    if (registration && !text(u"refreshToken").isEmpty()) {
        call(QStringLiteral("CreateToken"), QStringLiteral("/token"),
            { { QStringLiteral("clientId"), registration->clientId },
                { QStringLiteral("clientSecret"), registration->clientSecret },
                { QStringLiteral("grantType"), QStringLiteral("refresh_token") },
                { QStringLiteral("refreshToken"), text(u"refreshToken") } },
            [this, registration = *registration](const Reply &reply) {
                if (!reply.answer[u"accessToken"].toString().isEmpty())
                    return signedIn(reply.answer, registration);
                // The grant may be revoked, or the client no longer known: a new sign-in.
                signIn(std::nullopt);
            });
        return;
    }
    // A device sign-in keeps a registration for a quarter of an hour at most.
    if (registration && !holdsFor(registration->expiresAt, 15 * 60))
        registration.reset();
    QTimer::singleShot(0, this, [this, registration] { signIn(registration); });
}

void SSOSignIn::signIn(const std::optional<Registration> &registration)
{
    if (registration)
        return authorize(*registration);
    QJsonObject body { { QStringLiteral("clientName"), QStringLiteral("iamlink") },
        { QStringLiteral("clientType"), QStringLiteral("public") } };
    if (!m_session.scopes.isEmpty())
        body.insert(QStringLiteral("scopes"), QJsonArray::fromStringList(m_session.scopes));
    call(QStringLiteral("RegisterClient"), QStringLiteral("/client/register"), body,
        [this](const Reply &reply) {
            const Registration registration { reply.answer[u"clientId"].toString(),
                reply.answer[u"clientSecret"].toString(),
                cacheTime(QDateTime::fromSecsSinceEpoch(
                    qint64(reply.answer[u"clientSecretExpiresAt"].toDouble()))) };
            if (registration.clientId.isEmpty() || registration.clientSecret.isEmpty())
                return finish(failure(QStringLiteral("RegisterClient"), reply));
            authorize(registration);
        });
}

void SSOSignIn::authorize(const Registration &registration)
{
    m_registration = registration;
    call(QStringLiteral("StartDeviceAuthorization"), QStringLiteral("/device_authorization"),
        { { QStringLiteral("clientId"), registration.clientId },
            { QStringLiteral("clientSecret"), registration.clientSecret },
            { QStringLiteral("startUrl"), m_session.startURL } },
        [this](const Reply &reply) {
            const QJsonObject &answer = reply.answer;
            m_deviceCode = answer[u"deviceCode"].toString();
            m_userCode = answer[u"userCode"].toString();
            const QUrl page(
                answer[u"verificationUriComplete"].toString(answer[u"verificationUri"].toString()),
                QUrl::StrictMode);
            // The page goes to the desktop's opener: a web page, nothing else.
            if (m_deviceCode.isEmpty() || m_userCode.isEmpty() || page.host().isEmpty()
                || (page.scheme() != u"https" && page.scheme() != u"http"))
                return finish(failure(QStringLiteral("StartDeviceAuthorization"), reply));
            m_interval = qBound(1, answer[u"interval"].toInt(5), 60);
            m_expiresIn = qBound(1, answer[u"expiresIn"].toInt(600), 3600);
            m_waited = 0;
            m_showing = true;
            m_desktop.showStatus(QStringLiteral("Waiting for the sign-in in the browser…"));
            m_desktop.beginBrowserSignIn(
                QStringLiteral("To sign in to AWS IAM Identity Center for the profile \"%1\", "
                               "confirm the code %2 on this page:")
                    .arg(displayedText(m_session.profile), displayedText(m_userCode)),
                page, false, [self = QPointer(this)] {
                    if (self)
                        self->cancel();
                });
            waitToPoll();
        });
}

void SSOSignIn::waitToPoll()
{
    if (m_waited + m_interval > m_expiresIn)
        return finish(Alert { QStringLiteral("AWS sign-in expired"),
            QStringLiteral("The code %1 for the profile \"%2\" was not confirmed in time. "
                           "Connect again for a new code.")
                .arg(displayedText(m_userCode), displayedText(m_session.profile)) });
    m_waited += m_interval;
    m_pollTimer.start(m_interval * pollSecond);
}

void SSOSignIn::poll()
{
    call(QStringLiteral("CreateToken"), QStringLiteral("/token"),
        { { QStringLiteral("clientId"), m_registration.clientId },
            { QStringLiteral("clientSecret"), m_registration.clientSecret },
            { QStringLiteral("grantType"),
                QStringLiteral("urn:ietf:params:oauth:grant-type:device_code") },
            { QStringLiteral("deviceCode"), m_deviceCode } },
        [this](const Reply &reply) {
            if (!reply.answer[u"accessToken"].toString().isEmpty())
                return signedIn(reply.answer, m_registration);
            if (reply.error == u"authorization_pending")
                return waitToPoll();
            if (reply.error == u"slow_down") {
                m_interval += 5;
                return waitToPoll();
            }
            if (reply.error == u"expired_token") {
                m_waited = m_expiresIn;
                return waitToPoll();
            }
            if (reply.error == u"access_denied")
                return finish(Alert { QStringLiteral("AWS sign-in denied"),
                    QStringLiteral("The sign-in to AWS IAM Identity Center for the profile "
                                   "\"%1\" was denied.")
                        .arg(displayedText(m_session.profile)) });
            finish(failure(QStringLiteral("CreateToken"), reply));
        });
}

void SSOSignIn::signedIn(const QJsonObject &token, const Registration &registration)
{
    const QString accessToken = token[u"accessToken"].toString();
    QJsonObject entry { { QStringLiteral("startUrl"), m_session.startURL },
        { QStringLiteral("region"), m_session.region },
        { QStringLiteral("accessToken"), accessToken },
        { QStringLiteral("expiresAt"),
            cacheTime(QDateTime::currentDateTimeUtc().addSecs(
                qint64(token[u"expiresIn"].toDouble()))) } };
    // The older form keeps no registration: the AWS CLI renews only an sso-session's token.
    if (m_session.name) {
        entry.insert(QStringLiteral("clientId"), registration.clientId);
        entry.insert(QStringLiteral("clientSecret"), registration.clientSecret);
        entry.insert(QStringLiteral("registrationExpiresAt"), registration.expiresAt);
        if (const QString refreshToken = token[u"refreshToken"].toString(); !refreshToken.isEmpty())
            entry.insert(QStringLiteral("refreshToken"), refreshToken);
    }
    writeCache(cachePath(m_session), entry);
    finish(accessToken);
}

void SSOSignIn::call(const QString &action,
    const QString &path,
    const QJsonObject &body,
    std::function<void(const Reply &)> then)
{
    const auto endpoint
        = AWSEndpoint("AWS_ENDPOINT_URL_SSO_OIDC", QStringLiteral("oidc")).url(m_session.region);
    std::variant<URLRequest, TransportError> request;
    if (const QUrl *url = std::get_if<QUrl>(&endpoint)) {
        URLRequest post(url->resolved(QUrl(path)));
        post.method = QStringLiteral("POST");
        post.addValue(QStringLiteral("application/json"), QStringLiteral("Content-Type"));
        post.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        request = post;
    } else {
        request = std::get<TransportError>(endpoint);
    }
    m_task = AWSRequest::send<Reply>(m_send, request, &Reply::read,
        [self = QPointer(this), action, then = std::move(then)](const Reply &reply) {
            if (!self || self->m_cancelled)
                return;
            // A reply that failed without an OAuth error ends the sign-in, whichever step.
            if (!reply.error && reply.transportError)
                return self->finish(self->failure(action, reply));
            then(reply);
        });
}

Alert SSOSignIn::failure(const QString &action, const Reply &reply) const
{
    return AWSRequest::failureAlert(reply.transportError, reply.message,
        QStringLiteral("AWS IAM Identity Center %1 for the profile \"%2\" failed.")
            .arg(action, displayedText(m_session.profile)));
}

void SSOSignIn::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    m_pollTimer.stop();
    if (m_task)
        m_task->cancel();
    QTimer::singleShot(0, this, [this] { finish(CredentialsSource::cancelledAlert()); });
}

void SSOSignIn::finish(const Result &result)
{
    m_pollTimer.stop();
    if (std::exchange(m_showing, false)) {
        m_desktop.endBrowserSignIn();
        m_desktop.showStatus(QStringLiteral("Finding AWS keys…"));
    }
    if (auto completion = std::exchange(m_completion, {}))
        completion(result);
}
