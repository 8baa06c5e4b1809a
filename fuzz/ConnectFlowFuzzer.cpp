// Drives the connect flow from the text of the URL field to the requests that would be
// sent, with a recording desktop and no network, then completes them with answers taken
// from the input. Field 0 is the field's text; fields 1 and 2, when present, are the user
// name and password the service answers; field 3, when present, the address DescribeClusters
// answers.
#include "ConnectFlow.h"
#include "DesktopServices.h"
#include "FuzzInput.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftDescribeClustersRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"
#include "URLQueryItem.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <cstdlib>

namespace {

// What reached the desktop: the URLs opened and the number of alerts.
class RecordingDesktop : public DesktopServices {
public:
    void openURL(const QUrl &url, OpenAnswer answered) override
    {
        opened.append(url);
        answered(std::nullopt);
    }
    void showAlertSheet(const QString &, const QString &) override { ++alerts; }
    void setBusy(bool) override { }
    void askForText(const QString &, TextAnswer answered) override { answered(std::nullopt); }

    QList<QUrl> opened;
    int alerts = 0;
};

// Captures what would be sent instead of sending it.
class OfflineConnectFlow : public ConnectFlow {
public:
    using ConnectFlow::ConnectFlow;

    std::shared_ptr<RedshiftDescribeClustersRequest> describe;
    std::function<void(const ClusterEndpointResult &)> described;
    std::shared_ptr<RedshiftCredentialsRequest> request;
    std::shared_ptr<RedshiftServerlessCredentialsRequest> serverless;
    std::function<void(const CredentialsResult &)> completion;

protected:
    QPointer<Cancellable> sendDescribeClustersRequest(
        const std::shared_ptr<RedshiftDescribeClustersRequest> &sent,
        std::function<void(const ClusterEndpointResult &)> done) override
    {
        describe = sent;
        described = std::move(done);
        return nullptr;
    }
    QPointer<Cancellable> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &sent,
        std::function<void(const CredentialsResult &)> done) override
    {
        request = sent;
        completion = std::move(done);
        return nullptr;
    }
    QPointer<Cancellable> sendServerlessCredentialsRequest(
        const std::shared_ptr<RedshiftServerlessCredentialsRequest> &sent,
        std::function<void(const CredentialsResult &)> done) override
    {
        serverless = sent;
        completion = std::move(done);
        return nullptr;
    }
};

const QDateTime signingTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());

// The query a Redshift query call sends: `parameters` without Version and Action items, then
// the version and the action.
URLQueryItems expectedQuery(URLQueryItems parameters, const QString &action)
{
    parameters.removeIf(
        [](const URLQueryItem &item) { return item.name == u"Version" || item.name == u"Action"; });
    parameters.append({ QStringLiteral("Version"), QStringLiteral("2012-12-01") });
    parameters.append({ QStringLiteral("Action"), action });
    return parameters;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Only the regional endpoint and the system's trust: the same request for the same input.
    for (const char *name : { "AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_REDSHIFT",
             "AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS", "AWS_CA_BUNDLE" })
        unsetenv(name);
    // The flow hands work back to the main thread through the application's event loop.
    static int argc = 1;
    static char name[] = "fuzz_flow";
    static char *argv[] = { name, nullptr };
    new QCoreApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput input(data, size);
    RecordingDesktop desktop;
    OfflineConnectFlow flow(desktop);
    flow.openURLString(QString::fromUtf8(input.field(0)));
    QCoreApplication::processEvents();
    if (!flow.describe && !flow.request && !flow.serverless) {
        // Handled without a request: opened, refused with an alert, or dropped; not busy.
        check(!flow.isBusy() && desktop.opened.size() + desktop.alerts <= 1);
        return 0;
    }
    const auto isBusyWithOneCall = [&flow] {
        return flow.isBusy()
            && (flow.describe != nullptr) + (flow.request != nullptr) + (flow.serverless != nullptr)
            == 1;
    };
    check(isBusyWithOneCall());

    if (flow.describe) {
        flow.describe->signingTime = signingTime;
        auto prepared = flow.describe->prepare();
        if (const auto *sent = std::get_if<URLRequest>(&prepared)) {
            check(queryItems(sent->url).value_or(URLQueryItems())
                == expectedQuery(
                    { { QStringLiteral("ClusterIdentifier"), flow.describe->clusterIdentifier } },
                    QStringLiteral("DescribeClusters")));
            check(sent->value(QStringLiteral("Authorization")).has_value());
        }
        const QByteArray address = input.count() >= 4 ? input.field(3) : "c.example";
        flow.describe.reset();
        flow.described({ QString::fromUtf8(address), 5439, QStringLiteral("available"), {}, {} });
        // Either the credentials call follows, or an alert ended the connect.
        if (!flow.request) {
            check(!flow.isBusy() && desktop.alerts == 1);
            return 0;
        }
        check(isBusyWithOneCall());
    }

    if (flow.request) {
        RedshiftCredentialsRequest &request = *flow.request;
        request.signingTime = signingTime;
        auto prepared = request.prepare();
        if (const auto *sent = std::get_if<URLRequest>(&prepared)) {
            // The query sent is exactly the parameters, then Version and Action, and the
            // request is signed.
            check(queryItems(sent->url).value_or(URLQueryItems())
                == expectedQuery(request.parameters, QStringLiteral("GetClusterCredentials")));
            check(sent->value(QStringLiteral("Authorization")).has_value());
        }
    } else {
        RedshiftServerlessCredentialsRequest &request = *flow.serverless;
        request.signingTime = signingTime;
        auto prepared = request.prepare();
        if (const auto *sent = std::get_if<URLRequest>(&prepared)) {
            // The body names the workgroup as given, nothing is in the query, and it is signed.
            const QJsonObject body
                = QJsonDocument::fromJson(sent->body.value_or(QByteArray())).object();
            check(body.value(QStringLiteral("workgroupName")).toString() == request.workgroupName);
            check(!sent->url.hasQuery());
            check(sent->value(QStringLiteral("Authorization")).has_value());
        }
    }

    CredentialsResult result;
    if (input.count() >= 3) {
        result.dbUser = QString::fromUtf8(input.field(1));
        result.dbPassword = QString::fromUtf8(input.field(2));
    } else {
        result.errorMessage = QString::fromUtf8(input.field(1));
    }
    desktop.opened.clear();
    flow.completion(result);
    check(!flow.isBusy());

    // Whatever the credentials hold, the URL opened must give them back unchanged.
    if (result.isSuccess() && !desktop.opened.isEmpty()) {
        const QUrl opened(QString::fromUtf8(desktop.opened.first().toEncoded()), QUrl::StrictMode);
        check(opened.isValid());
        check(opened.userName(QUrl::FullyDecoded) == *result.dbUser);
        check(opened.password(QUrl::FullyDecoded) == *result.dbPassword);
    }
    return 0;
}
