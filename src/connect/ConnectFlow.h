#pragma once

#include "Cancellable.h"
#include "ClusterEndpointResult.h"
#include "CredentialsResolver.h"
#include "CredentialsResult.h"
#include "RedshiftIAMURL.h"
#include "URLSession.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <variant>

class DesktopServices;
class RedshiftCredentialsRequest;
class RedshiftDescribeClustersRequest;
class RedshiftServerlessCredentialsRequest;

// The connect flow shared by the window and the command line: classifies the pasted text,
// opens ordinary URLs, and turns a Redshift IAM URL into temporary database credentials
// (the AWS keys resolved, the cluster's endpoint asked for when the URL has none, then the
// credentials call for the cluster or the serverless workgroup) and the postgres://
// connection URL, or shows why not. It knows the desktop only through DesktopServices, so it holds
// no widget.
class ConnectFlow : public QObject {
    Q_OBJECT
public:
    explicit ConnectFlow(DesktopServices &desktop, QObject *parent = nullptr);

    // One connect: ends in an alert or a URL offered to its handler, then finished().
    void openURLString(const QString &text);
    // Cancels the step in flight, if any; the connect then ends with the cancellation alert.
    void cancel();
    bool isBusy() const { return m_busy; }

Q_SIGNALS:
    // The connect has ended: an alert was shown, the opener answered, or nothing was to open.
    void finished();

protected:
    // Each sends one call; its completion runs later on the main thread. Tests and fuzzing
    // replace them to see what would be sent without any network.
    virtual QPointer<Cancellable> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion);
    virtual QPointer<Cancellable> sendServerlessCredentialsRequest(
        const std::shared_ptr<RedshiftServerlessCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion);
    virtual QPointer<Cancellable> sendDescribeClustersRequest(
        const std::shared_ptr<RedshiftDescribeClustersRequest> &request,
        std::function<void(const ClusterEndpointResult &)> completion);

private:
    void openRedshiftIAMURL(const QString &text);
    void requestCredentials(const RedshiftIAMURL &url,
        const QString &region,
        const CredentialsResolver::Resolution &resolved);
    void requestClusterCredentials(
        const RedshiftIAMURL &url, const AWSCredentials &credentials, const QString &region);
    void requestServerlessCredentials(
        const RedshiftIAMURL &url, const AWSCredentials &credentials, const QString &region);
    void describeCluster(
        const RedshiftIAMURL &url, const AWSCredentials &credentials, const QString &region);
    void describedCluster(const ClusterEndpointResult &result,
        RedshiftIAMURL url,
        const AWSCredentials &credentials,
        const QString &region);
    void completeConnection(CredentialsResult result, QUrl connectionURL);
    void open(const QUrl &url);
    void showAlertSheet(const Alert &alert);
    void showFailure(
        const std::optional<TransportError> &transportError, const std::optional<QString> &message);
    void setBusy(bool busy);

    DesktopServices &m_desktop;
    URLSession m_session;
    QPointer<Cancellable> lastTask;
    bool m_busy = false;
    // Set by cancel() until the next connect: a step that ends after it does not start the next.
    bool m_cancelled = false;
};
