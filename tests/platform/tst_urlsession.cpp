#include "MainThread.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

class URLSessionTest : public QObject {
    Q_OBJECT

    CleanNetworkEnv m_environment;
    QStringList m_endings; // one line for each task, in the order they reached the main thread

    // A new task whose ending is recorded on the main thread, as callers do. There the task has
    // ended but its handle still lives: cancelling it then must change nothing.
    QPointer<URLSessionTask> makeTask(URLSession &session,
        const URLRequest &request,
        const URLSession::Configuration &configuration)
    {
        const auto task = std::make_shared<QPointer<URLSessionTask>>();
        *task = session.dataTask(
            request,
            [this, task](std::optional<QByteArray> body, std::optional<HTTPURLResponse> response,
                std::optional<TransportError> error) {
                static const QStringList kinds { u"Network"_s, u"TimedOut"_s, u"Cancelled"_s,
                    u"ReplyTooLarge"_s, u"Configuration"_s };
                QStringList ending;
                if (QThread::currentThread() == qApp->thread())
                    ending << u"on the main thread"_s;
                // A network error's description comes from Qt.
                if (error)
                    ending << kinds[int(error->kind)]
                            + (error->kind == TransportError::Kind::Network
                                    ? QString()
                                    : u": "_s + error->description);
                if (response)
                    ending << QString::number(response->statusCode);
                for (const auto &[name, value] : response.value_or(HTTPURLResponse()).headerFields)
                    ending << QString::fromUtf8(name + ": " + value);
                if (body)
                    ending << QString::number(body->size()) + u" bytes: "_s
                            + QString::fromUtf8(body->left(20));
                MainThread::post([this, task, ending] {
                    m_endings << ending.join(u" | "_s);
                    if (*task)
                        (*task)->cancel();
                });
            },
            configuration);
        return *task;
    }

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void exchange_data() { addTestCaseRows(QFINDTESTDATA("urlsession.json")); }

    void exchange()
    {
        QFETCH(QJsonObject, row);
        TestHttpServer server(row[u"tls"].toBool());
        QList<QPair<QByteArray, QByteArray>> headers;
        for (const QJsonValue &line : row[u"headers"].toArray())
            headers.append({ line[0].toString().toUtf8(), line[1].toString().toUtf8() });
        server.setReply({ row[u"status"].toInt(200), headers,
            row[u"body"].toString().toUtf8() + QByteArray(row[u"filler"].toInt(), 'x'),
            row[u"neverAnswer"].toBool(),
            row.contains(u"declaredLength") ? std::optional(row[u"declaredLength"].toInteger())
                                            : std::nullopt,
            row[u"streamForever"].toBool() });
        URLRequest request(QUrl(row[u"url"].toString(server.url().toString())));
        request.method = u"POST"_s;
        request.timeout = std::chrono::milliseconds(row[u"timeout"].toInt(60000));
        URLSession::Configuration configuration;
        if (row[u"trusted"].toBool())
            configuration.additionalCACertificates
                = QSslCertificate::fromPath(TestHttpServer::caBundlePath());
        auto session = std::make_unique<URLSession>();
        m_endings.clear();

        const QPointer<URLSessionTask> task = makeTask(*session, request, configuration);
        const QString cancel = row[u"cancel"].toString();
        if (cancel == u"before")
            task->cancel();
        task->resume();
        task->resume(); // only the first call counts
        if (cancel == u"after" || row[u"destroy"].toBool())
            QTRY_COMPARE(server.requests().size(), 1);
        if (cancel == u"after")
            task->cancel();
        if (row[u"destroy"].toBool()) {
            session.reset();
            QCoreApplication::processEvents(); // what the session's thread posted before it stopped
            QVERIFY(task.isNull());
        }
        if (row[u"twice"].toBool()) {
            QTRY_COMPARE(m_endings.size(), 1);
            makeTask(*session, request, configuration)->resume();
        }
        const QStringList endings = row[u"endings"].toVariant().toStringList();
        QTRY_COMPARE(m_endings, endings);
        QTRY_VERIFY(task.isNull());
        QCOMPARE(m_endings, endings);
        QCOMPARE(server.requests().size(), row[u"arrived"].toInt(1));
        for (const RecordedRequest &arrived : server.requests())
            QVERIFY(!arrived.header("Cookie"));
    }
};

QTEST_GUILESS_MAIN(URLSessionTest)
#include "tst_urlsession.moc"
