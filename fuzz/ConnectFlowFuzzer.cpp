// Drives the connect flow from the text of the URL field to the request that would be
// sent, with a recording desktop and no network, then completes it with credentials taken
// from the input. Field 0 is the field's text; fields 1 and 2, when present, are the user
// name and password the service answers.
#include "ConnectFlow.h"
#include "DesktopServices.h"
#include "FuzzInput.h"
#include "RedshiftCredentialsRequest.h"
#include "URLQueryItem.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QDateTime>
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

    std::shared_ptr<RedshiftCredentialsRequest> request;
    std::function<void(const CredentialsResult &)> completion;

protected:
    QPointer<Cancellable> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &sent,
        std::function<void(const CredentialsResult &)> done) override
    {
        request = sent;
        completion = std::move(done);
        return nullptr;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Only the regional endpoint and the system's trust: the same request for the same input.
    for (const char *name : { "AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_REDSHIFT", "AWS_CA_BUNDLE" })
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
    if (!flow.request) {
        // Handled without a request: opened, refused with an alert, or dropped; not busy.
        check(!flow.isBusy() && desktop.opened.size() + desktop.alerts <= 1);
        return 0;
    }
    check(flow.isBusy());

    RedshiftCredentialsRequest &request = *flow.request;
    request.signingTime = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
    auto prepared = request.prepare();
    if (const auto *sent = std::get_if<URLRequest>(&prepared)) {
        // The query sent is exactly the parameters, Action last, and the request is signed.
        check(queryItems(sent->url).value_or(URLQueryItems()) == request.parameters);
        check(request.parameters.last().name == u"Action");
        check(sent->value(QStringLiteral("Authorization")).has_value());
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
