#include "ConnectFlow.h"
#include "RecordingDesktopServices.h"
#include "ScopedEnv.h"
#include "TestCases.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The network cut off: each call is recorded as "sent <method> <URL> as <access key>/<region>",
// then " token <session token>" and " <X-Amz-Target> <body>" if it has them, and answered
// soon, after a cancel() when the case says "cancel": the case's "cluster" body answers
// DescribeClusters, its "reply" body (IAM:alice and "secret" by default) and "transport" error
// the credentials calls.
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
            + (token ? u" token "_s + *token : QString())
            + (target ? u' ' + *target + u' ' + QString::fromUtf8(*sent.body) : QString()));
        if (row[u"cancel"].toBool())
            flow->cancel();
        HttpReply reply { 200, {}, {}, {} };
        if (sent.url.query().contains(u"Action=DescribeClusters"_s))
            reply.body = row[u"cluster"].toString().toUtf8();
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

    void shouldConnect()
    {
        QFETCH(QJsonObject, row);
        const bool ownKeys = row[u"ownKeys"].toBool();
        const ScopedEnv keys(
            { { "AWS_ACCESS_KEY_ID", ownKeys ? std::optional("EK") : std::nullopt },
                { "AWS_SECRET_ACCESS_KEY", ownKeys ? std::optional("ES") : std::nullopt } });
        RecordingDesktopServices desktop;
        desktop.hostConfirmed = row[u"confirm"].toBool();
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
                               .replace(u"@1MBblank"_s, QString(1 << 20, u' '))
                               .replace(u"@1MB"_s, QString(1 << 20, u'a')));

        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!flow.isBusy());
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
