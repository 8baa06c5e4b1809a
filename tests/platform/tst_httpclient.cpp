#include "HttpClient.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class HttpClientTest : public QObject {
    Q_OBJECT

    const ScopedEnv m_clean { cleanEnvironment() };

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void exchange_data() { addTestCaseRows(QFINDTESTDATA("httpclient.json")); }

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
        auto client = std::make_unique<HttpClient>();
        URLRequest request(QUrl(row[u"url"].toString(server.url().toString())));
        request.method = u"POST"_s;
        QStringList endings;
        const auto send = [&] {
            return client->send(request, [&](const HttpReply &reply) {
                QStringList ending;
                // A network error's description comes from Qt.
                if (const auto &error = reply.transportError)
                    ending << (error->kind == TransportError::Kind::Network ? u"network error"_s
                                                                            : error->description);
                if (reply.statusCode)
                    ending << QString::number(reply.statusCode);
                for (const auto &[name, value] : reply.headerFields)
                    ending << QString::fromUtf8(name + ": " + value);
                if (reply.body)
                    ending << QString::number(reply.body->size()) + u" bytes: "_s
                            + QString::fromUtf8(reply.body->left(20));
                endings << ending.join(u" | "_s);
            });
        };

        const QPointer<Cancellable> exchange = send();
        QVERIFY(endings.isEmpty()); // never before send() returns
        const QString then = row[u"then"].toString();
        if (!then.isEmpty() && then != u"again")
            QTRY_COMPARE(server.requests().size(), 1);
        if (then == u"cancel")
            exchange->cancel();
        if (then == u"destroy") {
            client.reset();
            QTest::qWait(50); // what the replies might still emit
        }
        if (then == u"again") {
            QTRY_COMPARE(endings.size(), 1);
            send();
        }
        QTRY_VERIFY(exchange.isNull()); // gone once ended
        QTRY_COMPARE(endings, row[u"endings"].toVariant().toStringList());
        QCOMPARE(server.requests().size(), row[u"arrived"].toInt(1));
        for (const RecordedRequest &arrived : server.requests())
            QVERIFY(!arrived.header("Cookie"));
    }
};

QTEST_GUILESS_MAIN(HttpClientTest)
#include "tst_httpclient.moc"
