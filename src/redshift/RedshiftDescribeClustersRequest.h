#pragma once

#include "ClusterEndpointResult.h"
#include "RedshiftCall.h"
#include "TransportError.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

class URLSession;
class URLSessionTask;

// Asks the Amazon Redshift query API where one cluster is reached (DescribeClusters), as
// RedshiftCredentialsRequest asks for credentials: signed POST, XML reply read off the main
// thread, a ClusterEndpointResult delivered on the main thread. Made with create(), filled
// by the caller, started once.
class RedshiftDescribeClustersRequest : public RedshiftCall {
public:
    using Completion = std::function<void(const ClusterEndpointResult &)>;

    static std::shared_ptr<RedshiftDescribeClustersRequest> create();

    // Filled by the caller before start(), with the keys and region; absent when the item
    // had no value.
    std::optional<QString> clusterIdentifier;

    // As RedshiftCredentialsRequest::start.
    QPointer<URLSessionTask> start(URLSession &session, Completion completion);

    // The signed POST that start() sends, or why it cannot be made: ClusterIdentifier,
    // Version=2012-12-01, Action=DescribeClusters.
    std::variant<URLRequest, TransportError> prepare() const;

    // What a reply means, whatever its HTTP status: Endpoint's Address and Port (a number
    // from 1 to 65535) and ClusterStatus when their elements closed, the error message as in
    // a credentials reply, and the transport error as given.
    static ClusterEndpointResult endpointResult(
        const std::optional<QByteArray> &body, const std::optional<TransportError> &transportError);

private:
    RedshiftDescribeClustersRequest() = default;
};
