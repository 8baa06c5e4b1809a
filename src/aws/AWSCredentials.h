#pragma once

#include <QString>

#include <optional>

// A set of AWS keys: an access key ID, its secret, and the session token that temporary keys
// come with.
struct AWSCredentials {
    QString accessKeyId;
    QString secretAccessKey;
    std::optional<QString> sessionToken;
};
