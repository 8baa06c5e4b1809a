#include "MainThread.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

struct Ending {
    int calls = 0;
    bool offMainThread = false;
    std::optional<QByteArray> body;
    std::optional<HTTPURLResponse> response;
    std::optional<TransportError> transportError;
    QPointer<URLSessionTask> task;
};

// A new task whose ending is recorded on the main thread, as callers do. There its task has
// ended but its handle still lives: cancelling it then must change nothing.
std::shared_ptr<Ending> makeTask(
    URLSession &session, const URLRequest &request, const URLSession::Configuration &configuration)
{
    auto ending = std::make_shared<Ending>();
    ending->task = session.dataTask(
        request,
        [ending](std::optional<QByteArray> body, std::optional<HTTPURLResponse> response,
            std::optional<TransportError> transportError) {
            const bool offMainThread = QThread::currentThread() != qApp->thread();
            MainThread::post([=] {
                ++ending->calls;
                ending->offMainThread = offMainThread;
                ending->body = body;
                ending->response = response;
                ending->transportError = transportError;
                if (ending->task)
                    ending->task->cancel();
            });
        },
        configuration);
    return ending;
}

// The kind, and the description when it is the session's own text rather than Qt's.
QString describe(const TransportError &error)
{
    static const char *const kinds[]
        = { "Network", "TimedOut", "Cancelled", "ReplyTooLarge", "Configuration" };
    const QString kind = QString::fromLatin1(kinds[static_cast<int>(error.kind)]);
    return error.kind == TransportError::Kind::Network ? kind : kind + u": "_s + error.description;
}

} // namespace

class URLSessionTest : public QObject {
    Q_OBJECT

    CleanNetworkEnv m_environment;

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void exchange_data()
    {
        QTest::addColumn<QJsonObject>("exchange");
        QFile file(QFINDTESTDATA("urlsession.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QJsonValue &exchange :
            QJsonDocument::fromJson(file.readAll())[u"cases"].toArray())
            QTest::newRow(qPrintable(exchange[u"tag"].toString())) << exchange.toObject();
    }

    void exchange()
    {
        QFETCH(QJsonObject, exchange);
        const QString how = exchange[u"how"].toString(u"send"_s);
        CannedReply reply { exchange[u"status"].toInt(200), {},
            exchange[u"body"].toString().toUtf8() + QByteArray(exchange[u"filler"].toInt(), 'x'),
            exchange[u"neverAnswer"].toBool(), std::nullopt, exchange[u"streamForever"].toBool() };
        if (exchange.contains(u"declaredLength"))
            reply.declaredLength = exchange[u"declaredLength"].toInteger();
        const QJsonObject headers = exchange[u"headers"].toObject();
        for (auto it = headers.begin(); it != headers.end(); ++it)
            reply.headers.append({ it.key().toUtf8(), it.value().toString().toUtf8() });
        const QString ending = exchange[u"ending"].toString();

        TestHttpServer server(
            how.startsWith(u"tls") ? TestHttpServer::Mode::Tls : TestHttpServer::Mode::Plain);
        server.setReply(reply);
        URLRequest request(server.url());
        request.method = u"POST"_s;
        if (how == u"refused") {
            QTcpServer closed; // its port refuses connections once it has gone
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            request.url.setPort(closed.serverPort());
        }
        if (how == u"timeout")
            request.timeout = std::chrono::milliseconds(200);
        URLSession::Configuration configuration;
        if (how == u"tls+ca")
            configuration.additionalCACertificates
                = QSslCertificate::fromPath(server.caBundlePath());
        auto session = std::make_unique<URLSession>();
        QSignalSpy received(&server, &TestHttpServer::requestReceived);
        const auto first = makeTask(*session, request, configuration);
        const QPointer<URLSessionTask> task = first->task;
        if (how == u"cancel-before")
            task->cancel();
        task->resume();
        task->resume(); // only the first call counts
        if (how == u"cancel-after" || how == u"destroy")
            QVERIFY(received.wait());
        if (how == u"cancel-after")
            task->cancel();
        if (how == u"destroy") {
            session.reset();
            QCoreApplication::processEvents(); // what the session's thread posted before it stopped
            QVERIFY(task.isNull());
            QCOMPARE(first->calls, 0);
            return;
        }

        QTRY_COMPARE(first->calls, 1);
        QVERIFY(first->offMainThread);
        QCOMPARE(first->transportError ? describe(*first->transportError) : u"reply"_s, ending);
        if (first->response) {
            QCOMPARE(first->response->statusCode, reply.status);
            for (const auto &header : std::as_const(reply.headers))
                QVERIFY(first->response->headerFields.contains(header));
            QCOMPARE(first->body, reply.body);
        } else {
            QVERIFY(!first->body);
        }
        QTRY_VERIFY(task.isNull());
        if (how == u"twice") {
            const auto second = makeTask(*session, request, configuration);
            second->task->resume();
            QTRY_COMPARE(second->calls, 1);
            QCOMPARE(second->body, reply.body);
            QVERIFY(!server.requests().constLast().header("Cookie"));
        }
        QCOMPARE(first->calls, 1);
        QCOMPARE(server.requests().size(), exchange[u"arrived"].toInt(1));
    }
};

QTEST_GUILESS_MAIN(URLSessionTest)
#include "tst_urlsession.moc"
