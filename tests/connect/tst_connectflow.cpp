#include "ConnectFlow.h"
#include "RecordingDesktopServices.h"
#include "SAMLCredentialsSource.h"
#include "ScopedEnv.h"
#include "TestCases.h"

#include <QTcpServer>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The network cut off: each call is recorded as "sent <method> <URL> as <access key>/<region>",
// then " token <session token>", " <X-Amz-Target>" and " <body>" if it has them, and answered
// soon, after a cancel() when the case says "cancel": the case's "cluster" body answers
// DescribeClusters, the keys RK, RS and RT AssumeRoleWithSAML, its "reply" body (IAM:alice and
// "secret" by default) and "transport" error the credentials calls.
HttpSend offline(RecordingDesktopServices &desktop, const QJsonObject &row, ConnectFlow *&flow)
{
    return [&desktop, row, &flow](const URLRequest &sent, const HttpCompletion &completion) {
        static const QRegularExpression scope(u"Credential=([^/]*)/\\d{8}/([^/]*)/"_s);
        const QRegularExpressionMatch credential
            = scope.match(sent.value(u"Authorization"_s).value_or(QString()));
        const std::optional<QString> token = sent.value(u"X-Amz-Security-Token"_s);
        const std::optional<QString> target = sent.value(u"X-Amz-Target"_s);
        desktop.events.append(
            u"sent %1 %2 as %3/%4"_s.arg(sent.method, QString::fromUtf8(sent.url.toEncoded()),
                credential.captured(1), credential.captured(2))
            + (token ? u" token "_s + *token : QString()) + (target ? u' ' + *target : QString())
            + (sent.body ? u' ' + QString::fromUtf8(*sent.body) : QString()));
        if (row[u"cancel"].toBool())
            flow->cancel();
        HttpReply reply { 200, {}, {}, {} };
        if (sent.url.query().contains(u"Action=DescribeClusters"_s))
            reply.body = row[u"cluster"].toString().toUtf8();
        else if (sent.body && sent.body->startsWith("Action=AssumeRoleWithSAML"))
            reply.body = "<R><AccessKeyId>RK</AccessKeyId><SecretAccessKey>RS</SecretAccessKey>"
                         "<SessionToken>RT</SessionToken></R>";
        else if (target)
            reply.body = row[u"reply"]
                             .toString(u"{\"dbUser\": \"IAM:alice\", \"dbPassword\": \"secret\"}"_s)
                             .toUtf8();
        else
            reply.body
                = row[u"reply"]
                      .toString(
                          u"<R><DbUser>IAM:alice</DbUser><DbPassword>secret</DbPassword></R>"_s)
                      .toUtf8();
        if (row.contains(u"transport"))
            reply.transportError
                = TransportError { TransportError::Kind::Network, row[u"transport"].toString() };
        QTimer::singleShot(0, [completion, reply] { completion(reply); });
        return QPointer<Cancellable>();
    };
}

} // namespace

class TestConnectFlow : public QObject {
    Q_OBJECT

    // Keys, profiles and endpoints come only from the cases, whatever the machine sets.
    const ScopedEnv m_clean { cleanEnvironment() };
    const ScopedEnv m_noFiles { { { "AWS_CONFIG_FILE", "/dev/null" },
        { "AWS_SHARED_CREDENTIALS_FILE", "/dev/null" } } };

private Q_SLOTS:
    void shouldConnect_data() { addTestCaseRows(QFINDTESTDATA("connectflow-cases.json")); }
    // Group federation and the sign-in plugins, in a file of their own.
    void shouldSignIn_data() { addTestCaseRows(QFINDTESTDATA("signin-cases.json")); }
    void shouldSignIn() { shouldConnect(); }

    void initTestCase() { SAMLCredentialsSource::timeoutSecond = std::chrono::milliseconds(1); }

    void shouldConnect()
    {
        QFETCH(QJsonObject, row);
        const bool ownKeys = row[u"ownKeys"].toBool();
        const ScopedEnv keys(
            { { "AWS_ACCESS_KEY_ID", ownKeys ? std::optional("EK") : std::nullopt },
                { "AWS_SECRET_ACCESS_KEY", ownKeys ? std::optional("ES") : std::nullopt } });
        RecordingDesktopServices desktop;
        desktop.hostConfirmed = row[u"confirm"].toBool();
        // A SAML sign-in's browser: at "@port" it posts the case's "saml" base64-encoded as
        // SAMLResponse, or its "form" as it is, after a GET when the case says "get". The pages
        // it gets back are the case's "pages". "@taken" is a port in use.
        const quint16 port = [] {
            QTcpServer probe;
            return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : quint16(0);
        }();
        QTcpServer taken;
        taken.listen(QHostAddress::LocalHost);
        HttpClient browser;
        QStringList pages;
        const QUrl listener(u"http://127.0.0.1:%1/"_s.arg(port));
        const QByteArray form = row.contains(u"saml")
            ? "SAMLResponse="
                + QUrl::toPercentEncoding(
                    QString::fromLatin1(row[u"saml"].toString().toUtf8().toBase64()))
            : row[u"form"].toString().replace(u"@1MB"_s, QString(1 << 20, u'a')).toUtf8();
        const auto send = [&](const QString &method, std::function<void()> then) {
            URLRequest request(listener);
            request.method = method;
            request.body = method == u"POST" ? std::optional(form) : std::nullopt;
            browser.send(request, [&pages, then](const HttpReply &reply) {
                pages << u"page %1"_s.arg(reply.statusCode);
                if (then)
                    then();
            });
        };
        desktop.browser = [&](const QUrl &) {
            if (row[u"cancelSignIn"].toBool())
                desktop.cancelSignIn();
            else if (row[u"get"].toBool())
                send(u"GET"_s, [&] { send(u"POST"_s, {}); });
            else if (!form.isEmpty())
                send(u"POST"_s, {});
        };
        if (row.contains(u"choice"))
            desktop.choiceAnswer = row[u"choice"].toInt();
        if (row.contains(u"openProblem"))
            desktop.openProblem = row[u"openProblem"].toString();
        ConnectFlow *self = nullptr;
        ConnectFlow flow(desktop, offline(desktop, row, self));
        self = &flow;
        QSignalSpy finished(&flow, &ConnectFlow::finished);
        // Pastes far beyond any real URL: @items stands for 10,000 numbered items, @1MB for a
        // megabyte of "a", @1MBblank for one of spaces.
        QString text = row[u"text"].toString(), items;
        for (int i = 1; i <= 10000 && text.contains(u"@items"); ++i)
            items += u"&DbGroups.DbGroup.%1=g&k%1=v"_s.arg(i);
        flow.openURLString(text.replace(u"@items"_s, items)
                               .replace(u"@port"_s, QString::number(port))
                               .replace(u"@taken"_s, QString::number(taken.serverPort()))
                               .replace(u"@1MBblank"_s, QString(1 << 20, u' '))
                               .replace(u"@1MB"_s, QString(1 << 20, u'a')));

        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!flow.isBusy());
        if (row.contains(u"pages"))
            QTRY_COMPARE(pages, row[u"pages"].toVariant().toStringList());
        // The listener has let its port go, whatever the end.
        if (text.contains(u"listen_port=%1"_s.arg(port), Qt::CaseInsensitive))
            desktop.events << (QTcpServer().listen(QHostAddress::LocalHost, port)
                    ? u"port free"_s
                    : u"port taken"_s);
        // The status lines only where a row asks for them.
        if (!row[u"status"].toBool())
            desktop.events.removeIf(
                [](const QString &event) { return event.startsWith(u"status "); });
        const QStringList events = row[u"events"].toVariant().toStringList();
        QCOMPARE(desktop.events.size(), events.size());
        for (qsizetype i = 0; i < events.size(); ++i) // "*" at the end: any rest
            QVERIFY2(events[i].endsWith(u'*') ? desktop.events[i].startsWith(events[i].chopped(1))
                                              : desktop.events[i] == events[i],
                qPrintable(desktop.events[i].left(300)));
    }
};

QTEST_GUILESS_MAIN(TestConnectFlow)
#include "tst_connectflow.moc"
