#include "MainThread.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QPointer>

using namespace Qt::StringLiterals;

class URLSessionTest : public QObject {
    Q_OBJECT

    const ScopedEnv m_clean { cleanEnvironment() };
    QStringList m_endings; // each task's, as it reached the main thread (see urlsession.json)

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void exchange_data() { addTestCaseRows(QFINDTESTDATA("urlsession.json")); }

    void exchange()
    {
        QFETCH(QJsonObject, row);
        TestHttpServer server(row[u"tls"].toBool());
        QList<QPair<QByteArray, QByteArray>> headers;
        for (const QJsonValue &header : row[u"headers"].toArray())
            headers.append({ header[0].toString().toUtf8(), header[1].toString().toUtf8() });
        server.setReply({ row[u"status"].toInt(200), headers,
            row[u"body"].toString().toUtf8() + QByteArray(row[u"filler"].toInt(), 'x'),
            row[u"neverAnswer"].toBool(), row[u"streamForever"].toBool() });
        URLRequest request(QUrl(row[u"url"].toString(server.url().toString())));
        request.method = u"POST"_s;
        request.timeout = std::chrono::milliseconds(row[u"timeout"].toInt(60000));
        auto session = std::make_unique<URLSession>();
        m_endings.clear();
        // Recorded on the main thread, as callers do; there the task has ended but its handle
        // still lives, and cancelling it must change nothing.
        const auto start = [&] {
            return session->dataTask(
                request, [this, &session](auto body, auto response, auto error) {
                    QStringList ending;
                    if (QThread::currentThread() == qApp->thread())
                        ending << u"on the main thread"_s;
                    // A network error's description comes from Qt.
                    if (error)
                        ending << (error->kind == TransportError::Kind::Network
                                ? u"network error"_s
                                : error->description);
                    if (response)
                        ending << QString::number(response->statusCode);
                    for (const auto &[name, value] :
                        response.value_or(HTTPURLResponse()).headerFields)
                        ending << QString::fromUtf8(name + ": " + value);
                    if (body)
                        ending << QString::number(body->size()) + u" bytes: "_s
                                + QString::fromUtf8(body->left(20));
                    MainThread::post([this, &session, ending] {
                        m_endings << ending.join(u" | "_s);
                        for (URLSessionTask *task : session->findChildren<URLSessionTask *>())
                            task->cancel();
                    });
                });
        };

        const QPointer<URLSessionTask> task = start();
        const QString then = row[u"then"].toString();
        if (then == u"cancel first")
            task->cancel();
        task->resume();
        task->resume(); // only the first call counts
        if (then == u"cancel" || then == u"destroy")
            QTRY_COMPARE(server.requests().size(), 1);
        if (then == u"cancel")
            task->cancel();
        if (then == u"destroy") {
            session.reset();
            QCoreApplication::processEvents(); // what the session's thread posted before it stopped
        }
        if (then == u"again") {
            QTRY_COMPARE(m_endings.size(), 1);
            start()->resume();
        }
        QTRY_VERIFY(task.isNull()); // after its ending has been handed on
        QTRY_COMPARE(m_endings, row[u"endings"].toVariant().toStringList());
        QCOMPARE(server.requests().size(), row[u"arrived"].toInt(1));
        for (const RecordedRequest &arrived : server.requests())
            QVERIFY(!arrived.header("Cookie"));
    }
};

QTEST_GUILESS_MAIN(URLSessionTest)
#include "tst_urlsession.moc"
