#pragma once

#include "TransportError.h"

#include <QString>

#include <optional>

// What one credentials exchange (GetClusterCredentials, or GetCredentials for a workgroup)
// delivers. A success exactly when both dbUser and dbPassword are present (an empty text
// counts as present); otherwise a failure, explained by transportError's description and
// errorMessage, both, either or neither.
struct CredentialsResult {
    std::optional<QString> dbUser;
    std::optional<QString> dbPassword;
    std::optional<QString> errorMessage;
    std::optional<TransportError> transportError;

    bool isSuccess() const { return dbUser.has_value() && dbPassword.has_value(); }

    friend bool operator==(const CredentialsResult &, const CredentialsResult &) = default;
};
