#pragma once

#include "AWSCredentials.h"
#include "AWSXMLReply.h"
#include "TransportError.h"
#include "URLQueryItem.h"
#include "URLRequest.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <variant>

// What the calls of the Redshift query API share.
namespace RedshiftCall {

// A call of the query API at AWS_ENDPOINT_URL_REDSHIFT, else AWS_ENDPOINT_URL, else the
// regional endpoint: `parameters` without their Version and Action items, then
// Version=2012-12-01 and Action=`action`, in the query of a POST signed for "redshift".
std::variant<URLRequest, TransportError> queryRequest(const QString &action,
    URLQueryItems parameters,
    const AWSCredentials &credentials,
    const QString &region,
    const QDateTime &now);

// The message of a query API error document: the text of Message, else of Error.
std::optional<QString> errorMessage(const AWSXMLReply &reply);

} // namespace RedshiftCall
