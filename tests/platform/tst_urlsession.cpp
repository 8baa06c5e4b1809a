#include "MainThread.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"
#include "URLSession.h"
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

// Not yet resumed. Records the completion on the main thread, as the application's code does.
QPointer<URLSessionTask> makeTask(
    const QUrl &url, const std::shared_ptr<Ending> &ending, std::chrono::milliseconds timeout)
{
    URLRequest request(url);
    request.method = u"POST"_s;
    request.timeout = timeout;
    auto *session = new URLSession(); // deletes itself once its task has completed
    return session->dataTask(request,
        [ending](std::optional<QByteArray> body, std::optional<HTTPURLResponse> response,
            std::optional<TransportError> transportError) {
            const bool offMainThread = QThread::currentThread() != qApp->thread();
            MainThread::post([=] {
                ++ending->calls;
                ending->offMainThread = ending->offMainThread && offMainThread;
                ending->body = body;
                ending->response = response;
                ending->transportError = transportError;
            });
        });
}

} // namespace

class URLSessionTest : public QObject {
    Q_OBJECT

    CleanNetworkEnv m_environment;

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void completesOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<CannedReply>("reply");
        QTest::addColumn<QString>("error");

        const CannedReply silent { 200, {}, {}, true };
        // The shared session thread is joined on quitting; the rows after this one show that
        // sessions made afterwards work as before.
        QTest::newRow("application quits while waiting")
            << u"quit"_s << silent << u"The request was cancelled."_s;
        QTest::newRow("HTTP error status handed on as a reply")
            << u"answer"_s << CannedReply { 403, { { "X-Test", "yes" } }, "<R>body</R>" }
            << QString();
        QTest::newRow("silent server times out")
            << u"wait"_s << silent << u"The request timed out."_s;
        QTest::newRow("cancelled before and after resume, nothing sent")
            << u"cancel"_s << silent << u"The request was cancelled."_s;
    }

    void completesOnce()
    {
        QFETCH(QString, how);
        QFETCH(CannedReply, reply);
        QFETCH(QString, error);

        TestHttpServer server;
        server.setReply(reply);
        QSignalSpy received(&server, &TestHttpServer::requestReceived);
        auto ending = std::make_shared<Ending>();
        const QPointer<URLSessionTask> task = makeTask(server.url(), ending,
            how == u"wait" ? std::chrono::milliseconds(200) : std::chrono::seconds(60));
        if (how == u"cancel")
            task->cancel();
        task->resume();
        if (how == u"cancel")
            task->cancel();
        if (how == u"quit") {
            QVERIFY(received.wait());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
        }

        QTRY_COMPARE(ending->calls, 1);
        QVERIFY(ending->offMainThread);
        QCOMPARE(ending->transportError ? ending->transportError->description : QString(), error);
        if (error.isEmpty()) {
            QCOMPARE(ending->response->statusCode, reply.status);
            QVERIFY(ending->response->headerFields.contains(QPair("X-Test"_ba, "yes"_ba)));
            QCOMPARE(ending->body, reply.body);
        } else {
            QVERIFY(!ending->body && !ending->response);
        }
        QTRY_VERIFY(task.isNull());
        QCOMPARE(ending->calls, 1);
        if (how == u"cancel")
            QVERIFY(server.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(URLSessionTest)
#include "tst_urlsession.moc"
