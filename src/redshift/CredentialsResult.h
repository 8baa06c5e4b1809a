#pragma once

#include "TransportError.h"

#include <QDateTime>
#include <QString>

#include <optional>

// What one credentials exchange (GetClusterCredentials, or GetCredentials for a workgroup)
// delivers. A success exactly when both dbUser and dbPassword are present (an empty text
// counts as present) and the exchange did not fail; otherwise a failure, explained by
// transportError's description (which names an HTTP status outside 2xx) and errorMessage,
// both, either or neither.
struct CredentialsResult {
    std::optional<QString> dbUser = {};
    std::optional<QString> dbPassword = {};
    std::optional<QString> errorMessage = {};
    std::optional<TransportError> transportError = {};
    // When the password stops working, when the service said.
    std::optional<QDateTime> expiration = {};

    bool isSuccess() const { return dbUser && dbPassword && !transportError; }

    friend bool operator==(const CredentialsResult &, const CredentialsResult &) = default;
};
