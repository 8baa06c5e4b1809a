#pragma once

#include "AWSCredentials.h"
#include "ClusterEndpointResult.h"
#include "HttpClient.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <variant>

// The Amazon Redshift query API's DescribeClusters for one cluster: where its databases are
// reached.
namespace RedshiftDescribeClustersRequest {

// The signed POST: ClusterIdentifier, Version=2012-12-01, Action=DescribeClusters; or why it
// cannot be made.
std::variant<URLRequest, TransportError> request(const AWSCredentials &credentials,
    const QString &region,
    const std::optional<QString> &clusterIdentifier,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

// What a reply means: Endpoint's Address and Port (a number from 1 to 65535) and
// ClusterStatus when their elements closed, the error message as in a credentials reply, and
// the exchange's failure as given.
ClusterEndpointResult result(const HttpReply &reply);

} // namespace RedshiftDescribeClustersRequest
