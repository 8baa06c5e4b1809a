#pragma once

#include "AWSCredentials.h"
#include "Cancellable.h"
#include "DesktopServices.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

class URLSession;

// Finds the AWS keys of a connect: the key pair that the pasted URL carries.
class CredentialsResolver {
public:
    // What the pasted URL says about the keys.
    struct Query {
        std::optional<QString> accessKeyID;
        std::optional<QString> secretAccessKey;
        std::optional<QString> sessionToken;
        std::optional<QString> profile;
    };
    // The keys, and the region to use when the URL's host names none.
    struct Resolution {
        AWSCredentials credentials;
        std::optional<QString> region;
    };
    using Completion = std::function<void(const std::variant<Resolution, Alert> &)>;

    // `completion` runs once, later, on the main thread, with the keys or the alert that says
    // why there are none. The work in flight, if any, is returned for cancelling.
    static QPointer<Cancellable> resolve(
        const Query &query, URLSession &session, DesktopServices &desktop, Completion completion);
};
