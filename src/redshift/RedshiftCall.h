#pragma once

#include "AWSXMLReply.h"
#include "TransportError.h"
#include "URLQueryItem.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// What the calls to Amazon Redshift and Redshift Serverless share: the keys and region they
// are signed with, filled by the caller before the call is prepared, and the signing.
class RedshiftCall {
public:
    std::optional<QString> accessKeyID;
    std::optional<QString> secretAccessKey;
    // Temporary keys come with it; sent as X-Amz-Security-Token and signed.
    std::optional<QString> sessionToken;
    std::optional<QString> awsRegion;
    // The instant to sign with; absent means the current time (tests fix it).
    std::optional<QDateTime> signingTime;

protected:
    RedshiftCall() = default;
    ~RedshiftCall() = default;

    // A call of the Redshift query API: `parameters` without their Version and Action items,
    // then Version=2012-12-01 and Action=`action`, in the query of a POST signed for "redshift".
    std::variant<URLRequest, TransportError> queryCall(
        const QString &action, URLQueryItems parameters) const;

    // `request` as a POST signed for `service` with these keys, in awsRegion.
    std::variant<URLRequest, TransportError> signedPost(
        const QString &service, URLRequest request) const;

    // The message of a query API error document: the text of Message, else of Error.
    static std::optional<QString> errorMessage(const AWSXMLReply &reply);
};
