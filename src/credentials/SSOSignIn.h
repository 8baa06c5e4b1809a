#pragma once

#include "Cancellable.h"
#include "DesktopServices.h"
#include "HttpClient.h"

#include <QDateTime>
#include <QJsonObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <variant>

// The access token of an IAM Identity Center sign-in, kept where the AWS CLI keeps it
// (~/.aws/sso/cache/<SHA-1 of the sso-session's name, or of the start URL>.json) so that
// iamlink and the AWS tools share one login. The cached token while it is valid; else, for an
// sso-session, the token renewed with its refresh token while the client registration holds;
// else a new sign-in by the OAuth device authorization grant: RegisterClient (unless the cache
// holds a registration that holds), StartDeviceAuthorization, then CreateToken polled at the
// interval given while the user confirms the code in the browser. A new or renewed token is
// written back to the cache, the one file iamlink writes. The SSO OIDC calls are unsigned JSON
// at AWS_ENDPOINT_URL_SSO_OIDC, else AWS_ENDPOINT_URL, else
// https://oidc.<sso_region>.amazonaws.com.
class SSOSignIn : public Cancellable {
    Q_OBJECT
public:
    struct Session {
        QString profile;
        std::optional<QString> name; // the sso_session; absent in the older in-profile form
        QString startURL;
        QString region;
        QStringList scopes;
    };
    // The access token, or the alert that says why there is none.
    using Result = std::variant<QString, Alert>;

    SSOSignIn(HttpSend send, DesktopServices &desktop, Session session, QObject *parent = nullptr);
    ~SSOSignIn() override;

    // How long one second of the polling interval lasts: tests shorten it.
    static inline std::chrono::milliseconds pollSecond = std::chrono::seconds(1);

    // `completion` runs once, later, on the main thread, also after cancel().
    void fetch(std::function<void(const Result &)> completion);
    void cancel() override;

    // The cache file of `session`.
    static QString cachePath(const Session &session);

private:
    struct Registration {
        QString clientId;
        QString clientSecret;
        QString expiresAt; // as the cache writes it
    };
    struct Reply;

    void refresh(const QJsonObject &cached);
    void signIn(const std::optional<Registration> &registration);
    void authorize(const Registration &registration);
    void poll();
    void waitToPoll();
    void signedIn(const QJsonObject &token, const Registration &registration);
    void call(const QString &action,
        const QString &path,
        const QJsonObject &body,
        std::function<void(const Reply &)> then);
    Alert failure(const QString &action, const Reply &reply) const;
    void finish(const Result &result);

    HttpSend m_send;
    DesktopServices &m_desktop;
    Session m_session;
    std::function<void(const Result &)> m_completion;
    QPointer<Cancellable> m_task;
    bool m_cancelled = false;
    bool m_showing = false;
    // The device authorization being confirmed; times in seconds of the polling.
    Registration m_registration;
    QString m_deviceCode;
    QString m_userCode;
    qint64 m_interval = 5;
    qint64 m_waited = 0;
    qint64 m_expiresIn = 600;
    QTimer m_pollTimer;
};
