#pragma once

#include "AWSCredentials.h"
#include "CredentialsResult.h"
#include "HttpClient.h"
#include "URLQueryItem.h"

#include <QDateTime>

#include <variant>

// The Amazon Redshift query API's GetClusterCredentials, and GetClusterCredentialsWithIAM for
// group federation: temporary database credentials for a cluster.
namespace RedshiftCredentialsRequest {

// The signed POST: `parameters` without their Version and Action items, then
// Version=2012-12-01 and Action=GetClusterCredentials; or why it cannot be made.
std::variant<URLRequest, TransportError> request(const AWSCredentials &credentials,
    const QString &region,
    const URLQueryItems &parameters,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

// The signed POST of GetClusterCredentialsWithIAM: of `parameters` only ClusterIdentifier,
// DbName and DurationSeconds, since the database user is the one the IAM identity maps to.
std::variant<URLRequest, TransportError> requestWithIAM(const AWSCredentials &credentials,
    const QString &region,
    const URLQueryItems &parameters,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

// What a reply of either means: DbUser, DbPassword and Expiration when their elements closed, the
// text of Message (else Error), and the exchange's failure as given.
CredentialsResult result(const HttpReply &reply);

} // namespace RedshiftCredentialsRequest
