#pragma once

#include "TransportError.h"

#include <QString>

#include <optional>

// What one DescribeClusters exchange says about a cluster: where its databases are reached,
// when it has an endpoint yet, and its status when the reply describes it; else why not, as
// in CredentialsResult.
struct ClusterEndpointResult {
    std::optional<QString> address;
    std::optional<int> port;
    std::optional<QString> clusterStatus;
    std::optional<QString> errorMessage;
    std::optional<TransportError> transportError;

    bool hasEndpoint() const { return address.has_value() && port.has_value(); }

    friend bool operator==(const ClusterEndpointResult &, const ClusterEndpointResult &) = default;
};
