// Drives the connect flow from the text of the URL field to the requests that would be
// sent, with a recording desktop and no network, then answers them with replies made from
// the input. Field 0 is the field's text; fields 1 and 2, when present, are the user name and
// password the service answers (else field 1 is its error message); field 3, when present,
// the address DescribeClusters answers.
#include "ConnectFlow.h"
#include "DesktopServices.h"
#include "FuzzInput.h"
#include "URLQueryItem.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

namespace {

// What reached the desktop: the URLs opened, the number of alerts and of sign-ins begun.
class RecordingDesktop : public DesktopServices {
public:
    void openURL(const QUrl &url, const std::optional<QDateTime> &, OpenAnswer answered) override
    {
        opened.append(url);
        answered(std::nullopt);
    }
    void showAlertSheet(const QString &, const QString &) override { ++alerts; }
    void setBusy(bool) override { }
    void askForText(const QString &, TextAnswer answered) override { answered(std::nullopt); }
    void confirmHost(const HostQuestion &, ConfirmAnswer answered) override { answered(true); }
    void beginBrowserSignIn(const QString &, const QUrl &, bool, std::function<void()>) override
    {
        ++signIns;
    }

    QList<QUrl> opened;
    int alerts = 0;
    int signIns = 0;
};

// What the flow sent last, and how to answer it.
struct Sent {
    URLRequest request;
    HttpCompletion completion;
};

QString xmlText(const QByteArray &field)
{
    return QString::fromUtf8(field).toHtmlEscaped();
}

// The query ends with Version and then the action, and the request is signed.
void checkQueryCall(const URLRequest &request, const QString &action)
{
    const URLQueryItems items = queryItems(request.url).value_or(URLQueryItems());
    check(items.size() >= 2 && items.last() == URLQueryItem { QStringLiteral("Action"), action }
        && items.at(items.size() - 2).name == u"Version");
    check(request.value(QStringLiteral("Authorization")).has_value());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Only the regional endpoint: the same request for the same input.
    for (const char *name :
        { "AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_REDSHIFT", "AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS" })
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
    std::optional<Sent> sent;
    int calls = 0;
    ConnectFlow flow(desktop, [&](const URLRequest &request, HttpCompletion completion) {
        sent = Sent { request, std::move(completion) };
        ++calls;
        return QPointer<Cancellable>();
    });
    flow.openURLString(QString::fromUtf8(input.field(0)));
    QCoreApplication::processEvents();
    if (!sent) {
        // Handled without a request: opened, refused with an alert, or dropped; not busy. Or
        // a sign-in waits in the browser, and it goes with the flow.
        check(desktop.signIns == 1 ? flow.isBusy() && desktop.alerts == 0
                                   : !flow.isBusy() && desktop.opened.size() + desktop.alerts <= 1);
        return 0;
    }
    check(flow.isBusy() && calls == 1);

    if (sent->request.url.query().contains(u"Action=DescribeClusters")) {
        checkQueryCall(sent->request, QStringLiteral("DescribeClusters"));
        const QByteArray address = input.count() >= 4 ? input.field(3) : "c.example";
        const Sent described = *std::exchange(sent, std::nullopt);
        described.completion({ 200, {},
            QStringLiteral("<R><Address>%1</Address><Port>5439</Port></R>")
                .arg(xmlText(address))
                .toUtf8(),
            {} });
        // Either the credentials call follows, or an alert ended the connect.
        if (!sent) {
            check(!flow.isBusy() && desktop.alerts == 1);
            return 0;
        }
        check(flow.isBusy() && calls == 2);
    }

    const bool serverless = sent->request.value(QStringLiteral("X-Amz-Target")).has_value();
    if (serverless) {
        // The body names a workgroup, nothing is in the query, and it is signed.
        const QJsonObject body
            = QJsonDocument::fromJson(sent->request.body.value_or(QByteArray())).object();
        check(body.value(QStringLiteral("workgroupName")).isString());
        check(!sent->request.url.hasQuery());
        check(sent->request.value(QStringLiteral("Authorization")).has_value());
    } else {
        const bool withIAM
            = sent->request.url.query().contains(u"Action=GetClusterCredentialsWithIAM");
        checkQueryCall(sent->request,
            withIAM ? QStringLiteral("GetClusterCredentialsWithIAM")
                    : QStringLiteral("GetClusterCredentials"));
    }

    const bool credentials = input.count() >= 3;
    const QString user = QString::fromUtf8(input.field(1));
    const QString password = QString::fromUtf8(input.field(2));
    QByteArray body;
    if (serverless)
        body = QJsonDocument(credentials ? QJsonObject { { QStringLiteral("dbUser"), user },
                                 { QStringLiteral("dbPassword"), password } }
                                         : QJsonObject { { QStringLiteral("message"), user } })
                   .toJson();
    else if (credentials)
        body = QStringLiteral("<R><DbUser>%1</DbUser><DbPassword>%2</DbPassword></R>")
                   .arg(xmlText(input.field(1)), xmlText(input.field(2)))
                   .toUtf8();
    else
        body = QStringLiteral("<R><Message>%1</Message></R>").arg(xmlText(input.field(1))).toUtf8();
    desktop.opened.clear();
    sent->completion({ 200, {}, body, {} });
    check(!flow.isBusy());

    // Whatever the credentials hold, the URL opened must give them back unchanged.
    if (credentials && !desktop.opened.isEmpty()) {
        const QUrl opened(QString::fromUtf8(desktop.opened.first().toEncoded()), QUrl::StrictMode);
        check(opened.isValid());
        check(opened.userName(QUrl::FullyDecoded) == user);
        check(opened.password(QUrl::FullyDecoded) == password);
    }
    return 0;
}
