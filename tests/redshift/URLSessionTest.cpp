#include "URLSession.h"
#include "MainThread.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

struct Ending {
    int calls = 0;
    bool offMainThread = true;
    std::optional<QByteArray> body;
    std::optional<HTTPURLResponse> response;
    std::optional<TransportError> transportError;
};

// Records the completion on the main thread, as the application's code does.
URLSessionTask *startTask(
    const URLRequest &request, const std::shared_ptr<Ending> &ending, bool resume = true)
{
    auto *session = new URLSession();
    URLSessionTask *task = session->dataTask(request,
        [ending](std::optional<QByteArray> body, std::optional<HTTPURLResponse> response,
            std::optional<TransportError> transportError) {
            const bool offMainThread
                = QThread::currentThread() != QCoreApplication::instance()->thread();
            MainThread::post([=] {
                ++ending->calls;
                ending->offMainThread = ending->offMainThread && offMainThread;
                ending->body = body;
                ending->response = response;
                ending->transportError = transportError;
            });
        });
    if (resume)
        task->resume();
    return task;
}

URLRequest post(const QUrl &url)
{
    URLRequest request(url);
    request.method = u"POST"_s;
    return request;
}

} // namespace

class URLSessionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void shouldHandOnHttpErrorsAndRedirectsAsReplies_data();
    void shouldHandOnHttpErrorsAndRedirectsAsReplies();
    void shouldReportATimeout();
    void shouldCompleteATaskCancelledBeforeResume();
    void shouldStopRunningSessionsWhenTheApplicationQuits();

private:
    std::vector<std::unique_ptr<ScopedEnv>> m_environment;
};

void URLSessionTest::initTestCase()
{
    for (const char *name : { "http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY" })
        m_environment.push_back(std::make_unique<ScopedEnv>(name, std::nullopt));
}

void URLSessionTest::init()
{
    QTest::failOnWarning(QRegularExpression(u".*"_s));
}

void URLSessionTest::shouldHandOnHttpErrorsAndRedirectsAsReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location");

    QTest::newRow("403") << 403 << QByteArray();
    QTest::newRow("500") << 500 << QByteArray();
    QTest::newRow("302 to the same server") << 302 << "/elsewhere"_ba;
    QTest::newRow("301 to another host") << 301 << "http://127.0.0.2:1/"_ba;
}

void URLSessionTest::shouldHandOnHttpErrorsAndRedirectsAsReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, location);

    TestHttpServer server;
    CannedReply reply { status, { { "X-Test", "yes" } }, "<R>body</R>" };
    if (!location.isEmpty())
        reply.headers.append({ "Location", location });
    server.setReply(reply);
    auto ending = std::make_shared<Ending>();
    const QPointer<URLSessionTask> task = startTask(post(server.url()), ending);

    QTRY_COMPARE(ending->calls, 1);
    QVERIFY(ending->offMainThread);
    QVERIFY(!ending->transportError);
    QCOMPARE(ending->response->statusCode, status);
    QVERIFY(ending->response->headerFields.contains(QPair("X-Test"_ba, "yes"_ba)));
    QCOMPARE(ending->body, "<R>body</R>"_ba);
    QTRY_VERIFY(task.isNull());
    QCOMPARE(server.requests().size(), 1);
}

void URLSessionTest::shouldReportATimeout()
{
    TestHttpServer server;
    CannedReply silence;
    silence.neverAnswer = true;
    server.setReply(silence);
    URLRequest request = post(server.url());
    request.timeout = std::chrono::milliseconds(200);
    auto ending = std::make_shared<Ending>();
    startTask(request, ending);

    QTRY_COMPARE(ending->calls, 1);
    QCOMPARE(ending->transportError,
        (TransportError { TransportError::Kind::TimedOut, u"The request timed out."_s }));
    QVERIFY(!ending->body);
    QVERIFY(!ending->response);
}

void URLSessionTest::shouldCompleteATaskCancelledBeforeResume()
{
    TestHttpServer server;
    auto ending = std::make_shared<Ending>();
    const QPointer<URLSessionTask> task = startTask(post(server.url()), ending, false);
    task->cancel();
    task->resume();
    task->cancel();

    QTRY_COMPARE(ending->calls, 1);
    QCOMPARE(ending->transportError->kind, TransportError::Kind::Cancelled);
    QTRY_VERIFY(task.isNull());
    QCOMPARE(ending->calls, 1);
    QVERIFY(server.requests().isEmpty());
}

void URLSessionTest::shouldStopRunningSessionsWhenTheApplicationQuits()
{
    TestHttpServer server;
    CannedReply silence;
    silence.neverAnswer = true;
    server.setReply(silence);
    QSignalSpy received(&server, &TestHttpServer::requestReceived);
    auto ending = std::make_shared<Ending>();
    const QPointer<URLSessionTask> task = startTask(post(server.url()), ending);
    QVERIFY(received.wait());

    // Quitting cancels the task; its completion still reaches the main thread.
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    QTRY_COMPARE(ending->calls, 1);
    QCOMPARE(ending->transportError->kind, TransportError::Kind::Cancelled);
    QTRY_VERIFY(task.isNull());

    // Sessions made afterwards work as before.
    server.setReply({ 200, {}, "after" });
    auto later = std::make_shared<Ending>();
    startTask(post(server.url()), later);
    QTRY_COMPARE(later->calls, 1);
    QCOMPARE(later->body, "after"_ba);
}

QTEST_GUILESS_MAIN(URLSessionTest)
#include "URLSessionTest.moc"
