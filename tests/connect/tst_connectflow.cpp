#include "ConnectFlow.h"
#include "RecordingDesktopServices.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftDescribeClustersRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "URLSessionTask.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The flow with the network cut off: each call is recorded as "sent <method> <URL> as
// <access key>/<region>", then " token <session token>" and " <X-Amz-Target> <body>" if it
// has them, and answered at once, after a cancel() when the case says "cancel": the case's
// "cluster" body answers DescribeClusters, its "reply" body (IAM:alice and "secret" by
// default) and "transport" error the credentials calls.
class OfflineFlow : public ConnectFlow {
public:
    OfflineFlow(RecordingDesktopServices &desktop, const QJsonObject &row)
        : ConnectFlow(desktop)
        , m_desktop(desktop)
        , m_row(row)
    {
    }

protected:
    QPointer<Cancellable> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion) override
    {
        return answer(
            request->prepare(), completion, &RedshiftCredentialsRequest::credentialsResult);
    }
    QPointer<Cancellable> sendServerlessCredentialsRequest(
        const std::shared_ptr<RedshiftServerlessCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion) override
    {
        return answer(request->prepare(), completion,
            &RedshiftServerlessCredentialsRequest::credentialsResult, u"reply"_s,
            u"{\"dbUser\": \"IAM:alice\", \"dbPassword\": \"secret\"}"_s);
    }
    QPointer<Cancellable> sendDescribeClustersRequest(
        const std::shared_ptr<RedshiftDescribeClustersRequest> &request,
        std::function<void(const ClusterEndpointResult &)> completion) override
    {
        return answer(request->prepare(), completion,
            &RedshiftDescribeClustersRequest::endpointResult, u"cluster"_s);
    }

private:
    template <class Result>
    QPointer<Cancellable> answer(const std::variant<URLRequest, TransportError> &prepared,
        const std::function<void(const Result &)> &completion,
        Result (*read)(const std::optional<QByteArray> &, const std::optional<TransportError> &),
        const QString &replyName = u"reply"_s,
        const QString &defaultReply
        = u"<R><DbUser>IAM:alice</DbUser><DbPassword>secret</DbPassword></R>"_s)
    {
        const URLRequest sent = std::get<URLRequest>(prepared);
        static const QRegularExpression scope(u"Credential=([^/]*)/\\d{8}/([^/]*)/"_s);
        const QRegularExpressionMatch credential
            = scope.match(sent.value(u"Authorization"_s).value_or(QString()));
        const std::optional<QString> token = sent.value(u"X-Amz-Security-Token"_s);
        const std::optional<QString> target = sent.value(u"X-Amz-Target"_s);
        m_desktop.events.append(
            u"sent %1 %2 as %3/%4"_s.arg(sent.method, QString::fromUtf8(sent.url.toEncoded()),
                credential.captured(1), credential.captured(2))
            + (token ? u" token "_s + *token : QString())
            + (target ? u' ' + *target + u' ' + QString::fromUtf8(*sent.body) : QString()));
        if (m_row[u"cancel"].toBool())
            cancel();
        std::optional<TransportError> transportError;
        if (m_row.contains(u"transport"))
            transportError
                = TransportError { TransportError::Kind::Network, m_row[u"transport"].toString() };
        completion(read(m_row[replyName].toString(defaultReply).toUtf8(), transportError));
        return nullptr;
    }

    RecordingDesktopServices &m_desktop;
    const QJsonObject m_row;
};

} // namespace

class TestConnectFlow : public QObject {
    Q_OBJECT

    // Keys, profiles and endpoints come only from the cases, whatever the machine sets.
    const ScopedEnv m_clean { cleanEnvironment() };
    const ScopedEnv m_noFiles { { { "AWS_CONFIG_FILE", "/dev/null" },
        { "AWS_SHARED_CREDENTIALS_FILE", "/dev/null" } } };

private Q_SLOTS:
    void shouldConnect_data() { addTestCaseRows(QFINDTESTDATA("connectflow-cases.json")); }

    void shouldConnect()
    {
        QFETCH(QJsonObject, row);
        RecordingDesktopServices desktop;
        if (row.contains(u"openProblem"))
            desktop.openProblem = row[u"openProblem"].toString();
        OfflineFlow flow(desktop, row);
        QSignalSpy finished(&flow, &ConnectFlow::finished);
        // Pastes far beyond any real URL: @items stands for 10,000 numbered items, @1MB for a
        // megabyte of "a", @1MBblank for one of spaces.
        QString text = row[u"text"].toString(), items;
        for (int i = 1; i <= 10000 && text.contains(u"@items"); ++i)
            items += u"&DbGroups.DbGroup.%1=g&k%1=v"_s.arg(i);
        flow.openURLString(text.replace(u"@items"_s, items)
                               .replace(u"@1MBblank"_s, QString(1 << 20, u' '))
                               .replace(u"@1MB"_s, QString(1 << 20, u'a')));

        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!flow.isBusy());
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
