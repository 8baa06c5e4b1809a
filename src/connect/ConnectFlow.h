#pragma once

#include "Cancellable.h"
#include "ClusterEndpointResult.h"
#include "CredentialsResolver.h"
#include "CredentialsResult.h"
#include "DesktopServices.h"
#include "HttpClient.h"
#include "RedshiftIAMURL.h"
#include "SAMLCredentialsSource.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <variant>

// The connect flow shared by the window and the command line: classifies the pasted text,
// opens ordinary URLs, and turns a Redshift IAM URL into temporary database credentials
// (the AWS keys resolved, the cluster's endpoint asked for when the URL has none, then the
// credentials call for the cluster or the serverless workgroup) and the postgres://
// connection URL, or shows why not. It knows the desktop only through DesktopServices, so it holds
// no widget.
class ConnectFlow : public QObject {
    Q_OBJECT
public:
    // Calls go through `send`; without one, through an HttpClient of the flow's own that
    // trusts AWS_CA_BUNDLE's certificates too.
    explicit ConnectFlow(DesktopServices &desktop, HttpSend send = {}, QObject *parent = nullptr);

    // One connect: ends in an alert or a URL offered to its handler, then finished().
    void openURLString(const QString &text);
    // Cancels the step in flight, if any; the connect then ends with the cancellation alert.
    void cancel();
    bool isBusy() const { return m_busy; }

Q_SIGNALS:
    // The connect has ended: an alert was shown, the opener answered, or nothing was to open.
    void finished();

private:
    void openRedshiftIAMURL(const QString &text);
    // Through the identity provider's sign-in when the URL names one, else the resolver.
    void resolveKeys(CredentialsResolver &resolver,
        const RedshiftIAMURL &url,
        const QString &region,
        const std::optional<SAMLCredentialsSource::Settings> &plugin);
    void signInWithPlugin(const RedshiftIAMURL &url,
        const QString &region,
        const SAMLCredentialsSource::Settings &settings);
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
    // Ends the connect with the opener's answer: an alert that names `scheme` when nothing
    // took the URL.
    DesktopServices::OpenAnswer openAnswer(const QString &scheme);
    void showAlertSheet(const Alert &alert);
    void setBusy(bool busy);
    // Sends a prepared call; `then` gets what `read` makes of its reply, unless the flow is
    // gone by then.
    template <class Result>
    void call(const std::variant<URLRequest, TransportError> &request,
        Result (*read)(const HttpReply &),
        std::function<void(const Result &)> then);

    DesktopServices &m_desktop;
    HttpSend m_send;
    QPointer<Cancellable> lastTask;
    bool m_busy = false;
    // Set by cancel() until the next connect: a step that ends after it does not start the next.
    bool m_cancelled = false;
    // While the user is asked whether to connect to a host.
    bool m_confirming = false;
};
