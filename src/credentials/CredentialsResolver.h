#pragma once

#include "AWSCredentials.h"
#include "AWSSharedConfig.h"
#include "Cancellable.h"
#include "DesktopServices.h"
#include "HttpClient.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

// Finds the AWS keys and region of one connect where the AWS CLI would, the first source
// present deciding and sources never mixed: the URL's key pair (and session token); the
// profile the URL names; AWS_ACCESS_KEY_ID with AWS_SECRET_ACCESS_KEY (and AWS_SESSION_TOKEN);
// the profile that AWS_PROFILE names, else "default". Profiles come from the AWS shared files,
// read at most once, and may hold static keys, a credential process, a role to assume or
// single sign-on.
class CredentialsResolver {
public:
    // What the pasted URL says about the keys.
    struct Query {
        std::optional<QString> accessKeyID;
        std::optional<QString> secretAccessKey;
        std::optional<QString> sessionToken;
        std::optional<QString> profile;
    };
    // The keys, or the alert that says why there are none.
    using Resolution = std::variant<AWSCredentials, Alert>;
    using Completion = std::function<void(const Resolution &)>;

    explicit CredentialsResolver(Query query);

    // The region to use when the URL names none: AWS_REGION, else AWS_DEFAULT_REGION, else the
    // region of the profile the keys would come from (the URL's, AWS_PROFILE's or "default");
    // or the alert that says why there is none.
    std::variant<QString, Alert> region();

    // `completion` runs once, later, on the main thread, with the keys or the alert that says
    // why there are none. The work in flight, if any, is returned for cancelling (after a
    // cancel the completion still comes, soon); it belongs to `owner`.
    QPointer<Cancellable> resolve(
        const HttpSend &send, DesktopServices &desktop, QObject *owner, Completion completion);

private:
    const std::variant<AWSSharedConfig, Alert> &sharedConfig();

    Query m_query;
    std::optional<std::variant<AWSSharedConfig, Alert>> m_sharedConfig;
};
