#pragma once

#include "AWSCredentials.h"
#include "CredentialsResult.h"
#include "HttpClient.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <variant>

// Redshift Serverless's GetCredentials (a JSON call): temporary database credentials for a
// workgroup, the database user following from the keys.
namespace RedshiftServerlessCredentialsRequest {

struct Parameters {
    QString workgroupName;
    std::optional<QString> dbName;
    // Sent as a number when it is one, else as given, for the service to refuse.
    std::optional<QString> durationSeconds;
};

// The signed POST / to AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS, else AWS_ENDPOINT_URL, else the
// regional endpoint, the absent parameters left out; or why it cannot be made.
std::variant<URLRequest, TransportError> request(const AWSCredentials &credentials,
    const QString &region,
    const Parameters &parameters,
    const QDateTime &now = QDateTime::currentDateTimeUtc());

// What a reply means: the strings dbUser and dbPassword, the number expiration, the error as
// "<code>: <message>" from __type (its name after "#") and message or Message, either alone
// when the other is missing, and the exchange's failure as given. A body that is no JSON
// object gives neither.
CredentialsResult result(const HttpReply &reply);

} // namespace RedshiftServerlessCredentialsRequest
