#include "ConnectFlow.h"
#include "CredentialsEndpoint.h"
#include "RecordingDesktopServices.h"
#include "TestCaseFile.h"

#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QStringList busyOn { u"connect off"_s, u"progress on"_s };
const QStringList busyOff { u"connect on"_s, u"progress off"_s };

} // namespace

class TestConnectFlow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_endpoint = std::make_unique<CredentialsEndpoint>();
        m_desktop = std::make_unique<RecordingDesktopServices>();
        m_flow = std::make_unique<ConnectFlow>(*m_desktop);
    }

    void cleanup()
    {
        m_flow->cancel();
        QTRY_VERIFY_WITH_TIMEOUT(!m_flow->isBusy(), 10000);
        m_flow.reset();
        m_desktop.reset();
        m_endpoint.reset();
    }

    void shouldClassifyWithoutSending_data() { addRows("classify", { "text", "event" }); }

    void shouldClassifyWithoutSending()
    {
        QFETCH(QString, text);
        QFETCH(QString, event);

        m_flow->openURLString(text);
        QCOMPARE(m_desktop->events, event.isEmpty() ? QStringList() : QStringList { event });
        QVERIFY(!m_flow->isBusy());
        QCOMPARE(m_endpoint->server.requests().size(), 0);
    }

    void shouldRouteQueryIntoRequest_data()
    {
        addRows("route", { "text", "target", "key", "region" });
    }

    void shouldRouteQueryIntoRequest()
    {
        QFETCH(QString, text);
        QFETCH(QString, target);
        QFETCH(QString, key);
        QFETCH(QString, region);

        m_flow->openURLString(text);
        QTRY_COMPARE(m_endpoint->server.requests().size(), 1);
        const RecordedRequest request = m_endpoint->server.requests().constFirst();
        QCOMPARE(request.method, "POST");
        QCOMPARE(request.target, target.toUtf8());
        const QString authorization
            = QString::fromUtf8(request.header("Authorization").value_or(""));
        const QRegularExpression credential(
            u"Credential=%1/\\d{8}/%2/redshift/aws4_request,"_s.arg(key, region));
        QVERIFY2(credential.match(authorization).hasMatch(), qPrintable(authorization));
    }

    void shouldOpenConnectionURL_data()
    {
        addRows("open", { "text", "dbUser", "dbPassword", "query", "fragment" });
    }

    void shouldOpenConnectionURL()
    {
        QFETCH(QString, text);
        QFETCH(QString, dbUser);
        QFETCH(QString, dbPassword);
        QFETCH(QString, query);
        QFETCH(QString, fragment);

        m_endpoint->replyCredentials(dbUser, dbPassword);
        m_flow->cancel(); // nothing to cancel yet: no effect
        m_flow->openURLString(text);
        QCOMPARE(m_desktop->events, busyOn);
        QTRY_VERIFY_WITH_TIMEOUT(!m_flow->isBusy(), 10000);
        m_flow->cancel(); // the finished request cannot be cancelled any more
        QCoreApplication::processEvents();
        QCOMPARE(m_desktop->events.size(), 5);
        QCOMPARE(m_desktop->events.mid(3), busyOff);

        // What the handler receives is text: parse it back as a handler would.
        const QString written = m_desktop->events.at(2).mid(5);
        const QUrl opened(written, QUrl::StrictMode);
        QVERIFY2(opened.isValid() && written.contains(u'@'), qPrintable(written));
        QCOMPARE(opened.scheme(), u"postgres"_s);
        QCOMPARE(opened.userName(QUrl::FullyDecoded), dbUser);
        QCOMPARE(opened.password(QUrl::FullyDecoded), dbPassword);
        QCOMPARE(opened.host(), CredentialsEndpoint::host);
        QCOMPARE(opened.port(), 5439);
        QCOMPARE(opened.path(), u"/dev"_s);
        QCOMPARE(opened.query(QUrl::FullyEncoded), query);
        QCOMPARE(opened.fragment(), fragment);
    }

    void shouldShowFailureAlert_data()
    {
        QTest::addColumn<int>("status"); // 0: no answer, the request is cancelled twice
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("informative");

        QTest::newRow("service error message")
            << 403
            << "<ErrorResponse><Error><Code>InvalidClientTokenId</Code><Message>The security token "
               "included in the request is invalid.</Message></Error></ErrorResponse>"_ba
            << u"The security token included in the request is invalid.\n"_s;
        QTest::newRow("user without password")
            << 200 << "<R><DbUser>IAM:alice</DbUser></R>"_ba << QString();
        QTest::newRow("cancelled") << 0 << QByteArray() << u"The request was cancelled.\n"_s;
    }

    void shouldShowFailureAlert()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, informative);

        if (status)
            m_endpoint->reply(status, body);
        else
            m_endpoint->neverAnswer();
        m_flow->openURLString(CredentialsEndpoint::iamURL());
        QTRY_COMPARE(m_endpoint->server.requests().size(), 1);
        if (!status) {
            QVERIFY(m_flow->isBusy());
            m_flow->cancel();
            m_flow->cancel();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_flow->isBusy(), 10000);
        const QString alert = u"alert Failed to get credentials from AWS|"_s + informative;
        QCOMPARE(m_desktop->events, busyOn + QStringList { alert } + busyOff);
    }

private:
    static void addRows(const char *section, std::initializer_list<const char *> columns)
    {
        addTestCaseRows(
            QFINDTESTDATA("connectflow-cases.txt"), QString::fromLatin1(section), columns);
    }

    std::unique_ptr<CredentialsEndpoint> m_endpoint;
    std::unique_ptr<RecordingDesktopServices> m_desktop;
    std::unique_ptr<ConnectFlow> m_flow;
};

QTEST_GUILESS_MAIN(TestConnectFlow)
#include "tst_connectflow.moc"
