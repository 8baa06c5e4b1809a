#include "RedshiftDescribeClustersRequest.h"

#include "AWSXMLReply.h"
#include "RedshiftCall.h"

std::variant<URLRequest, TransportError> RedshiftDescribeClustersRequest::request(
    const AWSCredentials &credentials,
    const QString &region,
    const std::optional<QString> &clusterIdentifier,
    const QDateTime &now)
{
    return RedshiftCall::queryRequest(QStringLiteral("DescribeClusters"),
        { { QStringLiteral("ClusterIdentifier"), clusterIdentifier } }, credentials, region, now);
}

ClusterEndpointResult RedshiftDescribeClustersRequest::result(const HttpReply &reply)
{
    // Address, Port and ClusterStatus are names no other part of a cluster's description uses.
    const AWSXMLReply xml = AWSXMLReply::read(reply.body.value_or(QByteArray()));
    ClusterEndpointResult result;
    result.transportError = reply.transportError;
    result.errorMessage = RedshiftCall::errorMessage(xml);
    if (reply.transportError)
        return result;
    result.address = xml.completeContents(QStringLiteral("Address"));
    bool isNumber = false;
    const int port
        = xml.completeContents(QStringLiteral("Port")).value_or(QString()).toInt(&isNumber);
    if (isNumber && port > 0 && port <= 65535)
        result.port = port;
    result.clusterStatus = xml.completeContents(QStringLiteral("ClusterStatus"));
    return result;
}
