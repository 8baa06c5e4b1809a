#include "ConnectFlow.h"
#include "RecordingDesktopServices.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>

namespace {

const QString host = QStringLiteral("examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com");
const QString failureMessage = QStringLiteral("Failed to get credentials from AWS");

QByteArray xmlText(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

CannedReply credentialsReply(const QString &dbUser, const QString &dbPassword)
{
    CannedReply reply;
    reply.headers = { { "Content-Type", "text/xml" } };
    reply.body
        = "<GetClusterCredentialsResponse xmlns=\"http://redshift.amazonaws.com/doc/2012-12-01/\">"
          "<GetClusterCredentialsResult><DbUser>"
        + xmlText(dbUser)
        + "</DbUser>"
          "<Expiration>2030-01-01T00:15:00Z</Expiration>"
          "<DbPassword>"
        + xmlText(dbPassword)
        + "</DbPassword></GetClusterCredentialsResult>"
          "<ResponseMetadata><RequestId>1</RequestId></ResponseMetadata>"
          "</GetClusterCredentialsResponse>";
    return reply;
}

CannedReply reply(int status, const QByteArray &body)
{
    CannedReply reply;
    reply.status = status;
    reply.headers = { { "Content-Type", "text/xml" } };
    reply.body = body;
    return reply;
}

QString iamURL(const QString &query, const QString &userPart = QString())
{
    return QStringLiteral("jdbc:redshift:iam://") + userPart + host + QStringLiteral(":5439/dev?")
        + query;
}

const QString keys = QStringLiteral("AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI");

QString alert(const QString &message, const QString &informative)
{
    return QStringLiteral("alert ") + message + QLatin1Char('|') + informative;
}

} // namespace

class TestConnectFlow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shouldClassifyWithoutSending_data();
    void shouldClassifyWithoutSending();
    void shouldRouteQueryIntoRequest_data();
    void shouldRouteQueryIntoRequest();
    void shouldOpenConnectionURL_data();
    void shouldOpenConnectionURL();
    void shouldShowFailureAlert_data();
    void shouldShowFailureAlert();
    void shouldReportTransportFailure();
    void shouldReportCancellation();
    void shouldIgnoreCancelWhenIdle();

private:
    void waitUntilIdle();

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<ScopedEnv> m_endpoint;
    std::unique_ptr<RecordingDesktopServices> m_desktop;
    std::unique_ptr<ConnectFlow> m_flow;
};

void TestConnectFlow::initTestCase()
{
    for (const char *name : { "http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "AWS_ENDPOINT_URL_REDSHIFT", "AWS_CA_BUNDLE" })
        qunsetenv(name);
}

void TestConnectFlow::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_server->setReply(credentialsReply(QStringLiteral("IAM:alice"), QStringLiteral("secret")));
    m_endpoint = std::make_unique<ScopedEnv>("AWS_ENDPOINT_URL", m_server->url().toEncoded());
    m_desktop = std::make_unique<RecordingDesktopServices>();
    m_flow = std::make_unique<ConnectFlow>(*m_desktop);
}

void TestConnectFlow::cleanup()
{
    if (m_flow && m_flow->isBusy()) {
        m_flow->cancel();
        waitUntilIdle();
    }
    m_flow.reset();
    m_desktop.reset();
    m_endpoint.reset();
    m_server.reset();
}

void TestConnectFlow::waitUntilIdle()
{
    QTRY_VERIFY_WITH_TIMEOUT(!m_flow->isBusy(), 10000);
}

void TestConnectFlow::shouldClassifyWithoutSending_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("events");

    const QString noURL = alert(QStringLiteral("No URL"),
        QStringLiteral("Please paste or type an URL into the text field"));
    const auto malformed = [](const QString &informative) {
        return alert(QStringLiteral("Malformed URL"), informative);
    };
    const auto incomplete = [](const QString &informative) {
        return alert(QStringLiteral("Incomplete Redshift IAM URL"), informative);
    };

    QTest::newRow("empty text") << QString() << QStringList { noURL };
    QTest::newRow("jdbc prefix alone") << QStringLiteral("jdbc:") << QStringList { noURL };
    QTest::newRow("jdbc prefix twice in mixed case")
        << QStringLiteral("JDBC:jDbC:") << QStringList { noURL };
    QTest::newRow("jdbc without colon is a bare word, dropped")
        << QStringLiteral("jdbc") << QStringList {};
    QTest::newRow("bare word is dropped, not opened as a file")
        << QStringLiteral("localhost") << QStringList {};
    QTest::newRow("jdbc prefix removed before opening")
        << QStringLiteral("jdbc:postgresql://db.example.com:5432/app?ssl=true")
        << QStringList { QStringLiteral("open postgresql://db.example.com:5432/app?ssl=true") };
    QTest::newRow("unhandled scheme still offered") << QStringLiteral(
        "nosuchscheme:thing") << QStringList { QStringLiteral("open nosuchscheme:thing") };
    QTest::newRow("blank is not escaped") << QStringLiteral(
        "foo bar") << QStringList { malformed(QStringLiteral("foo bar is not a valid URL")) };
    QTest::newRow("stray percent is not escaped")
        << QStringLiteral("https://example.com/100%")
        << QStringList { malformed(QStringLiteral("https://example.com/100% is not a valid URL")) };
    QTest::newRow("trailing line break is part of the text")
        << QStringLiteral("https://example.com/\n")
        << QStringList { malformed(QStringLiteral("https://example.com/\n is not a valid URL")) };
    QTest::newRow("informative text without the removed prefix")
        << QStringLiteral("jdbc:http://a b")
        << QStringList { malformed(QStringLiteral("http://a b is not a valid URL")) };
    QTest::newRow("leading blank hides the redshift prefix")
        << (QLatin1Char(' ') + iamURL(keys).mid(5))
        << QStringList { malformed(
               QLatin1Char(' ') + iamURL(keys).mid(5) + QStringLiteral(" is not a valid URL")) };
    QTest::newRow("redshift URL with a blank keeps its prefix as typed")
        << QStringLiteral("JDBC:REDSHIFT:IAM://host name/dev")
        << QStringList { malformed(
               QStringLiteral("REDSHIFT:IAM://host name/dev is not a valid Redshift IAM URL")) };
    QTest::newRow("no keys and no region")
        << QStringLiteral("redshift:iam://localhost:5439/dev")
        << QStringList { incomplete(QStringLiteral(
               "Missing: AccessKeyID, SecretAccessKey, the region in the host name")) };
    QTest::newRow("key item without equals sign")
        << iamURL(QStringLiteral("AccessKeyID&SecretAccessKey=s"))
        << QStringList { incomplete(QStringLiteral("Missing: AccessKeyID")) };
    QTest::newRow("empty key values")
        << iamURL(QStringLiteral("AccessKeyID=&SecretAccessKey="))
        << QStringList { incomplete(QStringLiteral("Missing: AccessKeyID, SecretAccessKey")) };
    QTest::newRow("later key item without value wins")
        << iamURL(QStringLiteral("AccessKeyID=a&SecretAccessKey=s&secretaccesskey"))
        << QStringList { incomplete(QStringLiteral("Missing: SecretAccessKey")) };
    QTest::newRow("region with four runs does not match")
        << QStringLiteral("redshift:iam://c1.abc.us-gov-west-1.redshift.amazonaws.com/dev?") + keys
        << QStringList { incomplete(QStringLiteral("Missing: the region in the host name")) };
    QTest::newRow("no host") << QStringLiteral("redshift:iam:dev?") + keys
                             << QStringList { incomplete(
                                    QStringLiteral("Missing: the region in the host name")) };
}

void TestConnectFlow::shouldClassifyWithoutSending()
{
    QFETCH(QString, text);
    QFETCH(QStringList, events);

    m_flow->openURLString(text);

    QCOMPARE(m_desktop->events, events);
    QVERIFY(!m_flow->isBusy());
    QCOMPARE(m_server->requests().size(), 0);
}

void TestConnectFlow::shouldRouteQueryIntoRequest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("credentialScope");

    const QString usWest2 = QStringLiteral("AKIDEXAMPLE/*/us-west-2/redshift/aws4_request");

    QTest::newRow("forwarded items, then cluster from host")
        << iamURL(keys + QStringLiteral("&DbUser=alice&AutoCreate=true&sslmode=require"))
        << QByteArray("/?DbUser=alice&AutoCreate=true&ClusterIdentifier=examplecluster&Action="
                      "GetClusterCredentials")
        << usWest2;
    QTest::newRow("key names in any case, forwarded names in exact case only")
        << iamURL(QStringLiteral("ACCESSKEYID=AKIDEXAMPLE&secretAccessKey=s&dbuser=bob&DBNAME=x&"
                                 "DbName=dev&DurationSeconds=900"))
        << QByteArray("/?DbName=dev&DurationSeconds=900&ClusterIdentifier=examplecluster&Action="
                      "GetClusterCredentials")
        << usWest2;
    QTest::newRow("numbered db groups forwarded, plain DbGroups kept")
        << iamURL(keys
               + QStringLiteral(
                   "&DbGroups.DbGroup.1=analysts&DbGroups=a,b&DbGroups.DbGroup.2=admins"))
        << QByteArray("/?DbGroups.DbGroup.1=analysts&DbGroups.DbGroup.2=admins&ClusterIdentifier="
                      "examplecluster&Action=GetClusterCredentials")
        << usWest2;
    QTest::newRow("query cluster identifier wins over host")
        << iamURL(keys + QStringLiteral("&ClusterIdentifier=other"))
        << QByteArray("/?ClusterIdentifier=other&Action=GetClusterCredentials") << usWest2;
    QTest::newRow("user part sent after cluster identifier")
        << iamURL(keys, QStringLiteral("IAM%3Aalice:ignored@"))
        << QByteArray(
               "/?ClusterIdentifier=examplecluster&DbUser=IAM%3Aalice&Action=GetClusterCredentials")
        << usWest2;
    QTest::newRow("query DbUser wins over user part")
        << iamURL(keys + QStringLiteral("&DbUser=bob"), QStringLiteral("alice@"))
        << QByteArray("/?DbUser=bob&ClusterIdentifier=examplecluster&Action=GetClusterCredentials")
        << usWest2;
    QTest::newRow("decoded values re-encoded, plus stays plus")
        << iamURL(keys + QStringLiteral("&DbUser=a+b%20c%2Fd"))
        << QByteArray("/?DbUser=a%2Bb%20c%2Fd&ClusterIdentifier=examplecluster&Action="
                      "GetClusterCredentials")
        << usWest2;
    QTest::newRow("last key item counts")
        << iamURL(QStringLiteral("AccessKeyID=FIRST&SecretAccessKey=s&accesskeyid=AKIDLAST"))
        << QByteArray("/?ClusterIdentifier=examplecluster&Action=GetClusterCredentials")
        << QStringLiteral("AKIDLAST/*/us-west-2/redshift/aws4_request");
    QTest::newRow("region is the last dotted run of the host")
        << QStringLiteral(
               "redshift:iam://c_1.us-east-1.abc.eu-central-1.redshift.amazonaws.com/dev?")
            + keys
        << QByteArray("/?ClusterIdentifier=c_1&Action=GetClusterCredentials")
        << QStringLiteral("AKIDEXAMPLE/*/eu-central-1/redshift/aws4_request");
}

void TestConnectFlow::shouldRouteQueryIntoRequest()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, target);
    QFETCH(QString, credentialScope);

    m_flow->openURLString(text);
    QTRY_COMPARE(m_server->requests().size(), 1);
    waitUntilIdle();

    const RecordedRequest request = m_server->requests().constFirst();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, target);
    const QString authorization
        = QString::fromUtf8(request.header("Authorization").value_or(QByteArray()));
    const QRegularExpression scope(QStringLiteral("Credential=")
        + QRegularExpression::escape(credentialScope)
              .replace(QStringLiteral("\\*"), QStringLiteral("\\d{8}"))
        + QLatin1Char(','));
    QVERIFY2(scope.match(authorization).hasMatch(), qPrintable(authorization));
}

void TestConnectFlow::shouldOpenConnectionURL_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("dbUser");
    QTest::addColumn<QString>("dbPassword");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("fragment");

    QTest::newRow("kept item and fragment, prefixes in capitals")
        << QStringLiteral("JDBC:REDSHIFT:IAM://") + host + QStringLiteral(":5439/dev?") + keys
            + QStringLiteral("&DbUser=alice&sslmode=require#top")
        << QStringLiteral("IAM:alice") << QStringLiteral("/ @ : + = % #")
        << QStringLiteral("sslmode=require") << QStringLiteral("top");
    QTest::newRow("pasted user and password replaced, no item kept")
        << iamURL(keys, QStringLiteral("bob:old@")) << QStringLiteral("IAM:bob")
        << QStringLiteral("p?w[d]&x") << QString() << QString();
    QTest::newRow("kept items re-encoded in order")
        << iamURL(QStringLiteral("application_name=my%20app&") + keys
               + QStringLiteral("&options=-c%20x%3Dy"))
        << QStringLiteral("IAM:alice") << QStringLiteral("pässwörd€")
        << QStringLiteral("application_name=my%20app&options=-c%20x%3Dy") << QString();
    QTest::newRow("empty user and password count as present")
        << iamURL(keys) << QString() << QString() << QString() << QString();
}

void TestConnectFlow::shouldOpenConnectionURL()
{
    QFETCH(QString, text);
    QFETCH(QString, dbUser);
    QFETCH(QString, dbPassword);
    QFETCH(QString, query);
    QFETCH(QString, fragment);

    m_server->setReply(credentialsReply(dbUser, dbPassword));
    m_flow->openURLString(text);
    QCOMPARE(m_desktop->events,
        (QStringList { QStringLiteral("connect off"), QStringLiteral("progress on") }));
    waitUntilIdle();

    QCOMPARE(m_desktop->openedURLs.size(), 1);
    QCOMPARE(m_desktop->events.mid(1 + 1),
        (QStringList { QStringLiteral("open ")
                + QString::fromUtf8(m_desktop->openedURLs.constFirst().toEncoded()),
            QStringLiteral("connect on"), QStringLiteral("progress off") }));

    // What the handler receives is text: parse it back as a handler would.
    const QByteArray written = m_desktop->openedURLs.constFirst().toEncoded();
    const QUrl opened(QString::fromUtf8(written), QUrl::StrictMode);
    QVERIFY2(opened.isValid(), written.constData());
    QCOMPARE(opened.scheme(), QStringLiteral("postgres"));
    QCOMPARE(opened.userName(QUrl::FullyDecoded), dbUser);
    QCOMPARE(opened.password(QUrl::FullyDecoded), dbPassword);
    QVERIFY2(written.contains("@"), written.constData());
    QCOMPARE(opened.host(), host);
    QCOMPARE(opened.port(), 5439);
    QCOMPARE(opened.path(), QStringLiteral("/dev"));
    QCOMPARE(opened.query(QUrl::FullyEncoded), query);
    QCOMPARE(opened.fragment(), fragment);
}

void TestConnectFlow::shouldShowFailureAlert_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("informative");

    QTest::newRow("service error document")
        << 403
        << QByteArray(
               "<ErrorResponse xmlns=\"http://redshift.amazonaws.com/doc/2012-12-01/\"><Error>"
               "<Type>Sender</Type><Code>InvalidClientTokenId</Code>"
               "<Message>The security token included in the request is invalid.</Message>"
               "</Error><RequestId>1</RequestId></ErrorResponse>")
        << QStringLiteral("The security token included in the request is invalid.\n");
    QTest::newRow("error without message gives its whole text")
        << 400
        << QByteArray("<ErrorResponse><Error><Code>Throttling</Code></Error></ErrorResponse>")
        << QStringLiteral("Throttling\n");
    QTest::newRow("user without password")
        << 200 << QByteArray("<R><DbUser>IAM:alice</DbUser></R>") << QString();
    QTest::newRow("empty body") << 500 << QByteArray() << QString();
}

void TestConnectFlow::shouldShowFailureAlert()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, informative);

    m_server->setReply(reply(status, body));
    m_flow->openURLString(iamURL(keys));
    waitUntilIdle();

    QCOMPARE(m_desktop->events,
        (QStringList { QStringLiteral("connect off"), QStringLiteral("progress on"),
            alert(failureMessage, informative), QStringLiteral("connect on"),
            QStringLiteral("progress off") }));
}

void TestConnectFlow::shouldReportTransportFailure()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QByteArray refusingEndpoint
        = "http://127.0.0.1:" + QByteArray::number(closed.serverPort());
    closed.close();
    ScopedEnv endpoint("AWS_ENDPOINT_URL", refusingEndpoint);

    m_flow->openURLString(iamURL(keys));
    waitUntilIdle();

    QCOMPARE(m_desktop->events.size(), 5);
    const QString shown = m_desktop->events.at(2);
    const QString prefix = alert(failureMessage, QString());
    QVERIFY2(shown.startsWith(prefix), qPrintable(shown));
    const QString informative = shown.mid(prefix.size());
    QVERIFY2(informative.size() > 1 && informative.endsWith(QLatin1Char('\n'))
            && informative.count(QLatin1Char('\n')) == 1,
        qPrintable(informative));
    QCOMPARE(m_desktop->events.mid(3),
        (QStringList { QStringLiteral("connect on"), QStringLiteral("progress off") }));
}

void TestConnectFlow::shouldReportCancellation()
{
    CannedReply silent;
    silent.neverAnswer = true;
    m_server->setReply(silent);

    m_flow->openURLString(iamURL(keys));
    QTRY_COMPARE(m_server->requests().size(), 1);
    QVERIFY(m_flow->isBusy());
    m_flow->cancel();
    m_flow->cancel();
    waitUntilIdle();

    QCOMPARE(m_desktop->events.size(), 5);
    const QString shown = m_desktop->events.at(2);
    QVERIFY2(shown.startsWith(alert(failureMessage, QString())), qPrintable(shown));
    QVERIFY2(shown.contains(QStringLiteral("cancel"), Qt::CaseInsensitive), qPrintable(shown));
    QVERIFY(shown.endsWith(QLatin1Char('\n')));
    QCOMPARE(m_desktop->events.mid(3),
        (QStringList { QStringLiteral("connect on"), QStringLiteral("progress off") }));
}

void TestConnectFlow::shouldIgnoreCancelWhenIdle()
{
    m_flow->cancel();
    QCOMPARE(m_desktop->events, QStringList());

    // A finished request's task is no longer cancellable either.
    m_flow->openURLString(iamURL(keys));
    waitUntilIdle();
    const QStringList afterConnect = m_desktop->events;
    m_flow->cancel();
    QCoreApplication::processEvents();
    QCOMPARE(m_desktop->events, afterConnect);
}

QTEST_GUILESS_MAIN(TestConnectFlow)
#include "tst_connectflow.moc"
