#include "ConnectFlow.h"

#include "AWSRequest.h"
#include "DesktopServices.h"
#include "DisplayedText.h"
#include "PastedText.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftDescribeClustersRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"

#include <algorithm>

namespace {

const QString jdbcPrefix = QStringLiteral("jdbc:");

// Compares the first prefix.size() characters of `text` (all of it if shorter) after
// lower-casing, so only the prefix's own letters in any case match.
bool hasPrefixIgnoringCase(const QString &text, const QString &prefix)
{
    return text.left(prefix.size()).toLower() == prefix;
}

// What a step that ends after cancel() hands on instead of starting the next.
CredentialsResult cancellation()
{
    return { .transportError = TransportError {
                 TransportError::Kind::Cancelled, QStringLiteral("The request was cancelled.") } };
}

// The settings of the identity-provider plugin that the URL names, or why it cannot sign in.
std::variant<SAMLCredentialsSource::Settings, Alert> pluginSettings(
    const RedshiftIAMURL &url, const QString &region)
{
    // The JDBC driver's plugins are named by their Java class.
    if (!url.pluginName->endsWith(u"BrowserSamlCredentialsProvider"))
        return Alert { QStringLiteral("Unsupported plugin_name"),
            QStringLiteral("iamlink signs in with BrowserSamlCredentialsProvider only, not %1.")
                .arg(displayedText(*url.pluginName)) };
    return SAMLCredentialsSource::settings(
        url.loginURL, url.listenPort, url.idpResponseTimeout, url.preferredRole, region);
}

} // namespace

ConnectFlow::ConnectFlow(DesktopServices &desktop, HttpSend send, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_send(std::move(send))
{
    if (!m_send)
        m_send = (new HttpClient(qEnvironmentVariable("AWS_CA_BUNDLE"), this))->sender();
}

template <class Result>
void ConnectFlow::call(const std::variant<URLRequest, TransportError> &request,
    Result (*read)(const HttpReply &),
    std::function<void(const Result &)> then)
{
    lastTask = AWSRequest::send<Result>(m_send, request, read,
        [self = QPointer(this), then = std::move(then)](const Result &result) {
            if (self)
                then(result);
        });
}

void ConnectFlow::openURLString(const QString &text)
{
    // Leading JDBC prefixes are removed one after another; a loop instead of a recursion
    // so that a paste made of thousands of them cannot exhaust the stack.
    QString rest = text;
    while (!rest.isEmpty() && hasPrefixIgnoringCase(rest, jdbcPrefix))
        rest.remove(0, jdbcPrefix.size());

    if (rest.isEmpty()) {
        showAlertSheet({ QStringLiteral("No URL"),
            QStringLiteral("Please paste or type an URL into the text field") });
        return;
    }
    if (hasPrefixIgnoringCase(rest, RedshiftIAMURL::prefix)) {
        openRedshiftIAMURL(rest);
        return;
    }

    // StrictMode rejects what may not stand in a URL (ASCII blanks, stray "%") instead of
    // escaping it: the text is opened as typed or not at all.
    const QUrl url(rest, QUrl::StrictMode);
    if (!url.isValid() || PastedText::containsBlank(rest)) {
        showAlertSheet({ QStringLiteral("Malformed URL"),
            PastedText::displayedURL(rest) + QStringLiteral(" is not a valid URL") });
        return;
    }
    // A relative reference such as a bare word would be taken for a local file by the
    // desktop's opener; no handler is registered for it, so it is dropped silently.
    if (url.scheme().isEmpty()) {
        Q_EMIT finished();
        return;
    }
    open(url);
}

void ConnectFlow::openRedshiftIAMURL(const QString &text)
{
    auto parsed = RedshiftIAMURL::parse(text);
    if (const Alert *alert = std::get_if<Alert>(&parsed)) {
        showAlertSheet(*alert);
        return;
    }
    const RedshiftIAMURL url = std::get<RedshiftIAMURL>(std::move(parsed));
    CredentialsResolver resolver(
        { url.accessKeyID, url.secretAccessKey, url.sessionToken, url.profile });
    // Known before any key is fetched, so that no credential process or MFA code is asked
    // for in vain.
    const auto region = url.region ? std::variant<QString, Alert>(*url.region) : resolver.region();
    if (const Alert *alert = std::get_if<Alert>(&region)) {
        showAlertSheet(*alert);
        return;
    }
    // The identity provider's sign-in, checked before anything is asked of the user.
    std::optional<SAMLCredentialsSource::Settings> plugin;
    if (url.pluginName) {
        auto settings = pluginSettings(url, std::get<QString>(region));
        if (const Alert *alert = std::get_if<Alert>(&settings)) {
            showAlertSheet(*alert);
            return;
        }
        plugin = std::get<SAMLCredentialsSource::Settings>(std::move(settings));
    }
    m_cancelled = false;
    setBusy(true);
    if (url.hasKeys() || url.isTrustedHost()) {
        resolveKeys(resolver, url, std::get<QString>(region), plugin);
        return;
    }
    // The user's own keys would buy a password for a host that anyone could have written.
    m_confirming = true;
    m_desktop.confirmHost({ url.connectionURL.host(), url.target(),
                              url.workgroupName || url.usesGroupFederation()
                                  ? QString()
                                  : url.parameter(QStringLiteral("DbUser")).value_or(QString()) },
        [self = QPointer(this), resolver, url, region = std::get<QString>(region), plugin](
            bool confirmed) mutable {
            if (!self || !std::exchange(self->m_confirming, false))
                return;
            if (confirmed)
                return self->resolveKeys(resolver, url, region, plugin);
            self->setBusy(false);
            Q_EMIT self->finished();
        });
}

void ConnectFlow::resolveKeys(CredentialsResolver &resolver,
    const RedshiftIAMURL &url,
    const QString &region,
    const std::optional<SAMLCredentialsSource::Settings> &plugin)
{
    if (plugin) {
        signInWithPlugin(url, region, *plugin);
        return;
    }
    m_desktop.showStatus(QStringLiteral("Finding AWS keys…"));
    lastTask = resolver.resolve(m_send, m_desktop, this,
        [self = QPointer(this), url, region](const CredentialsResolver::Resolution &resolved) {
            if (self)
                self->requestCredentials(url, region, resolved);
        });
}

void ConnectFlow::signInWithPlugin(const RedshiftIAMURL &url,
    const QString &region,
    const SAMLCredentialsSource::Settings &settings)
{
    auto *source = new SAMLCredentialsSource(m_send, m_desktop, settings);
    source->setParent(this);
    lastTask = source;
    source->fetch(
        [this, source, url = url, region](const CredentialsSource::Result &result) mutable {
            source->deleteLater();
            // The assertion's database user and groups, where the URL names none.
            if (std::holds_alternative<AWSCredentials>(result))
                source->assertion().addParameters(url.parameters);
            requestCredentials(url, region, result);
        });
}

void ConnectFlow::requestCredentials(const RedshiftIAMURL &url,
    const QString &region,
    const CredentialsResolver::Resolution &resolved)
{
    if (m_cancelled) {
        completeConnection(cancellation(), url.connectionURL);
        return;
    }
    if (const Alert *alert = std::get_if<Alert>(&resolved)) {
        setBusy(false);
        showAlertSheet(*alert);
        return;
    }
    const AWSCredentials &credentials = std::get<AWSCredentials>(resolved);
    m_desktop.showStatus(QStringLiteral("Asking AWS for credentials…"));
    if (url.workgroupName)
        requestServerlessCredentials(url, credentials, region);
    else if (url.describeCluster)
        describeCluster(url, credentials, region);
    else
        requestClusterCredentials(url, credentials, region);
}

void ConnectFlow::requestClusterCredentials(
    const RedshiftIAMURL &url, const AWSCredentials &credentials, const QString &region)
{
    // With group federation the database user follows from the keys, as for a workgroup.
    call<CredentialsResult>(url.usesGroupFederation()
            ? RedshiftCredentialsRequest::requestWithIAM(credentials, region, url.parameters)
            : RedshiftCredentialsRequest::request(credentials, region, url.parameters),
        &RedshiftCredentialsRequest::result,
        [this, connectionURL = url.connectionURL](
            const CredentialsResult &result) { completeConnection(result, connectionURL); });
}

void ConnectFlow::requestServerlessCredentials(
    const RedshiftIAMURL &url, const AWSCredentials &credentials, const QString &region)
{
    // The database user follows from the keys: DbUser, AutoCreate and DbGroups are not sent.
    RedshiftServerlessCredentialsRequest::Parameters parameters { *url.workgroupName,
        url.parameter(QStringLiteral("DbName")), url.parameter(QStringLiteral("DurationSeconds")) };
    const QString database = url.connectionURL.path(QUrl::FullyDecoded).section(u'/', 1, 1);
    if (!parameters.dbName && !database.isEmpty())
        parameters.dbName = database;
    call<CredentialsResult>(
        RedshiftServerlessCredentialsRequest::request(credentials, region, parameters),
        &RedshiftServerlessCredentialsRequest::result,
        [this, connectionURL = url.connectionURL](
            const CredentialsResult &result) { completeConnection(result, connectionURL); });
}

void ConnectFlow::describeCluster(
    const RedshiftIAMURL &url, const AWSCredentials &credentials, const QString &region)
{
    call<ClusterEndpointResult>(RedshiftDescribeClustersRequest::request(credentials, region,
                                    url.parameter(QStringLiteral("ClusterIdentifier"))),
        &RedshiftDescribeClustersRequest::result,
        [this, url, credentials, region](const ClusterEndpointResult &result) {
            describedCluster(result, url, credentials, region);
        });
}

void ConnectFlow::describedCluster(const ClusterEndpointResult &result,
    RedshiftIAMURL url,
    const AWSCredentials &credentials,
    const QString &region)
{
    if (m_cancelled) {
        completeConnection(cancellation(), url.connectionURL);
        return;
    }
    if (result.hasEndpoint()) {
        url.connectionURL.setHost(*result.address);
        url.connectionURL.setPort(*result.port);
        if (url.connectionURL.isValid() && !url.connectionURL.host().isEmpty()) {
            requestClusterCredentials(url, credentials, region);
            return;
        }
        setBusy(false);
        showAlertSheet(AWSRequest::failureAlert(std::nullopt,
            QStringLiteral("The cluster's endpoint is no host name: %1").arg(*result.address)));
        return;
    }
    setBusy(false);
    // The reply described the cluster, but one still being created has no endpoint yet.
    if (result.clusterStatus) {
        showAlertSheet({ QStringLiteral("The cluster has no endpoint yet"),
            QStringLiteral("The cluster %1 (status: %2) cannot be reached yet. Connect once it "
                           "is available.")
                .arg(displayedText(
                         url.parameter(QStringLiteral("ClusterIdentifier")).value_or(QString())),
                    displayedText(*result.clusterStatus)) });
        return;
    }
    showAlertSheet(AWSRequest::failureAlert(result.transportError, result.errorMessage));
}

void ConnectFlow::completeConnection(CredentialsResult result, QUrl connectionURL)
{
    // A reply already on its way when Cancel came counts as cancelled all the same.
    if (m_cancelled)
        result = cancellation();
    setBusy(false);
    if (result.isSuccess()) {
        // An empty credential must still be written as present, so a null text becomes an
        // empty one; DecodedMode percent-encodes what a user or password part cannot hold.
        const auto present = [](const QString &text) {
            return text.isNull() ? QStringLiteral("") : text;
        };
        connectionURL.setUserName(present(*result.dbUser), QUrl::DecodedMode);
        connectionURL.setPassword(present(*result.dbPassword), QUrl::DecodedMode);
        if (connectionURL.isValid()) {
            m_desktop.showStatus(QStringLiteral("Opening…"));
            m_desktop.openURL(connectionURL, result.expiration, openAnswer(connectionURL.scheme()));
            return;
        }
    }
    showAlertSheet(AWSRequest::failureAlert(result.transportError, result.errorMessage));
}

void ConnectFlow::open(const QUrl &url)
{
    m_desktop.showStatus(QStringLiteral("Opening…"));
    m_desktop.openURL(url, std::nullopt, openAnswer(url.scheme()));
}

DesktopServices::OpenAnswer ConnectFlow::openAnswer(const QString &scheme)
{
    return [self = QPointer(this), scheme](const std::optional<QString> &problem) {
        if (!self)
            return;
        if (!problem) {
            Q_EMIT self->finished();
            return;
        }
        // Never the URL itself: it may carry the password.
        const bool postgres = scheme == u"postgres" || scheme == u"postgresql";
        self->showAlertSheet({ QStringLiteral("No application opens %1: URLs").arg(scheme),
            *problem + QStringLiteral(".\n")
                + (postgres ? QStringLiteral("Install a PostgreSQL client that handles "
                                             "postgres: URLs, such as the psql handler that "
                                             "comes with iamlink, or run iamlink-cli --print "
                                             "to get the URL instead.")
                            : QStringLiteral("Install an application that handles %1: URLs.")
                                  .arg(scheme)) });
    };
}

void ConnectFlow::showAlertSheet(const Alert &alert)
{
    m_desktop.showAlertSheet(alert.messageText, alert.informativeText);
    Q_EMIT finished();
}

void ConnectFlow::cancel()
{
    if (!m_busy)
        return;
    m_cancelled = true;
    if (lastTask)
        lastTask->cancel();
    // The question may stay open: its answer is then ignored.
    if (std::exchange(m_confirming, false)) {
        setBusy(false);
        showAlertSheet(AWSRequest::failureAlert(cancellation().transportError, std::nullopt));
    }
}

void ConnectFlow::setBusy(bool busy)
{
    m_busy = busy;
    m_desktop.setBusy(busy);
}
