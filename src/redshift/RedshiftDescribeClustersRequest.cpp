#include "RedshiftDescribeClustersRequest.h"

#include "AWSRequest.h"
#include "AWSXMLReply.h"

std::shared_ptr<RedshiftDescribeClustersRequest> RedshiftDescribeClustersRequest::create()
{
    return std::shared_ptr<RedshiftDescribeClustersRequest>(new RedshiftDescribeClustersRequest());
}

std::variant<URLRequest, TransportError> RedshiftDescribeClustersRequest::prepare() const
{
    return queryCall(QStringLiteral("DescribeClusters"),
        { { QStringLiteral("ClusterIdentifier"), clusterIdentifier } });
}

QPointer<URLSessionTask> RedshiftDescribeClustersRequest::start(
    URLSession &session, Completion completion)
{
    return AWSRequest::send<ClusterEndpointResult>(session, prepare(),
        &RedshiftDescribeClustersRequest::endpointResult, std::move(completion));
}

ClusterEndpointResult RedshiftDescribeClustersRequest::endpointResult(
    const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError)
{
    // Address, Port and ClusterStatus are names no other part of a cluster's description uses.
    const AWSXMLReply reply = AWSXMLReply::read(body.value_or(QByteArray()));
    ClusterEndpointResult result;
    result.address = reply.completeContents(QStringLiteral("Address"));
    bool isNumber = false;
    const int port
        = reply.completeContents(QStringLiteral("Port")).value_or(QString()).toInt(&isNumber);
    if (isNumber && port > 0 && port <= 65535)
        result.port = port;
    result.clusterStatus = reply.completeContents(QStringLiteral("ClusterStatus"));
    result.errorMessage = errorMessage(reply);
    result.transportError = transportError;
    return result;
}
