#include "AWSXMLReply.h"
#include "RedshiftCredentialsRequest.h"
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
#include <QTest>
#include <QThread>

#include <list>

using namespace Qt::StringLiterals;

namespace {

// "success|failure [dbUser] [dbPassword] [errorMessage] transportErrorKind", - for absent. A
// transport error shows its kind only, since a network error's description comes from Qt.
QString describe(const CredentialsResult &result)
{
    static const char *const kinds[]
        = { "Network", "TimedOut", "Cancelled", "ReplyTooLarge", "Configuration" };
    const auto text = [](const std::optional<QString> &value) {
        return value ? u'[' + *value + u']' : u"-"_s;
    };
    return u"%1 %2 %3 %4 %5"_s.arg(result.isSuccess() ? u"success"_s : u"failure"_s,
        text(result.dbUser), text(result.dbPassword), text(result.errorMessage),
        result.transportError
            ? QString::fromLatin1(kinds[static_cast<int>(result.transportError->kind)])
            : u"-"_s);
}

struct Delivery {
    int calls = 0;
    bool onMainThread = true;
    CredentialsResult result;
    QPointer<URLSessionTask> task;
};

std::shared_ptr<Delivery> start(URLSession &session, RedshiftCredentialsRequest &request)
{
    auto delivery = std::make_shared<Delivery>();
    delivery->task = request.start(session, [delivery](const CredentialsResult &result) {
        ++delivery->calls;
        delivery->onMainThread = QThread::currentThread() == qApp->thread();
        delivery->result = result;
    });
    return delivery;
}

std::shared_ptr<RedshiftCredentialsRequest> filledRequest(const QString &region)
{
    auto request = RedshiftCredentialsRequest::create();
    request->awsRegion = region;
    request->accessKeyID = u"AKIDEXAMPLE"_s;
    request->secretAccessKey = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
    return request;
}

// The cases of a data file beside this test.
QJsonArray cases(const char *name)
{
    QFile file(QFINDTESTDATA(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", name);
    return QJsonDocument::fromJson(file.readAll())[u"cases"].toArray();
}

} // namespace

class RedshiftCredentialsRequestTest : public QObject {
    Q_OBJECT

    CleanNetworkEnv m_environment;

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void sendsTheSignedRequest_data()
    {
        QTest::addColumn<QJsonObject>("sent");
        for (const QJsonValue &sent : cases("requests.json"))
            QTest::newRow(qPrintable(sent[u"tag"].toString())) << sent.toObject();
    }

    void sendsTheSignedRequest()
    {
        QFETCH(QJsonObject, sent);
        const QString region = sent[u"region"].toString();
        const QByteArray amzDate = sent[u"amzDate"].toString().toLatin1();

        // The signed Host carries the port, so a fixed signature needs a fixed endpoint: the
        // test server stands in as the HTTP proxy that reaches it.
        TestHttpServer proxy;
        ScopedEnv httpProxy("http_proxy", proxy.url().toEncoded());
        ScopedEnv endpoint("AWS_ENDPOINT_URL", "http://redshift.example.test");
        auto request = filledRequest(region);
        for (const QJsonValue &item : sent[u"parameters"].toArray()) {
            request->parameters.append({ item[0].toString(),
                item[1].isNull() ? std::nullopt : std::optional(item[1].toString()) });
        }
        request->signingTime
            = QDateTime::fromString(QString::fromLatin1(amzDate), u"yyyyMMdd'T'HHmmss'Z'"_s);
        request->signingTime->setTimeSpec(Qt::UTC);
        URLSession session;
        const auto delivery = start(session, *request);

        QTRY_COMPARE(delivery->calls, 1);
        QCOMPARE(proxy.requests().size(), 1);
        const RecordedRequest arrived = proxy.requests().first();
        const auto header = [&arrived](const char *name) {
            return arrived.header(name).value_or("-");
        };
        QCOMPARE(arrived.method + ' ' + arrived.target,
            "POST http://redshift.example.test/?" + sent[u"query"].toString().toLatin1());
        QCOMPARE(arrived.body, QByteArray());
        QCOMPARE(header("Host"), "redshift.example.test"_ba);
        QCOMPARE(header("X-Amz-Date"), amzDate);
        QCOMPARE(header("Authorization"),
            "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/" + amzDate.left(8) + '/' + region.toLatin1()
                + "/redshift/aws4_request, SignedHeaders=host;x-amz-date, Signature="
                + sent[u"signature"].toString().toLatin1());
    }

    void exchanges_data()
    {
        QTest::addColumn<QJsonObject>("exchange");
        for (const QJsonValue &exchange : cases("exchanges.json"))
            QTest::newRow(qPrintable(exchange[u"tag"].toString())) << exchange.toObject();
    }

    void exchanges()
    {
        QFETCH(QJsonObject, exchange);

        TestHttpServer server(
            exchange[u"tls"].toBool() ? TestHttpServer::Mode::Tls : TestHttpServer::Mode::Plain);
        server.setReply({ exchange[u"status"].toInt(200), {},
            "<R><DbUser>u</DbUser><DbPassword>p</DbPassword></R>" });
        const QJsonObject environment = exchange[u"environment"].toObject();
        std::list<QByteArray> names; // outlive the settings, which keep pointers to them
        std::list<ScopedEnv> settings;
        for (auto it = environment.begin(); it != environment.end(); ++it) {
            names.push_back(it.key().toUtf8());
            settings.emplace_back(names.back().constData(),
                it.value()
                    .toString()
                    .replace(u"@server"_s, server.url().toString())
                    .replace(u"@bundle"_s, server.caBundlePath())
                    .replace(u"@text"_s, QFINDTESTDATA("exchanges.json"))
                    .toUtf8());
        }
        URLSession session;
        const auto delivery
            = start(session, *filledRequest(exchange[u"region"].toString(u"us-west-2"_s)));

        const QString refusal = exchange[u"refusal"].toString();
        QCOMPARE(delivery->calls, 0);
        QCOMPARE(delivery->task.isNull(), !refusal.isEmpty());
        QTRY_COMPARE(delivery->calls, 1);
        QVERIFY(delivery->onMainThread);
        QCOMPARE(describe(delivery->result), exchange[u"result"].toString());
        if (!refusal.isEmpty()) {
            const QString description = delivery->result.transportError->description;
            QVERIFY2(description.startsWith(refusal) && !description.contains(u"hunter2"),
                qPrintable(description));
        }
        QStringList arrived;
        for (const RecordedRequest &request : server.requests())
            arrived << QString::fromUtf8(request.method + ' ' + request.target);
        QCOMPARE(arrived.join(u'\n'), exchange[u"arrived"].toString());
    }

    void readsReplies_data()
    {
        QTest::addColumn<QJsonObject>("reply");

        for (const QJsonValue &reply : cases("replies.json"))
            QTest::newRow(qPrintable(reply[u"tag"].toString())) << reply.toObject();
        // Two open elements each keep this text: past the budget, reading stops before it.
        const QString past = QString(AWSXMLReply::maxGatheredCharacters / 2 + 1, u'x');
        QTest::newRow("text past the gathering budget left out")
            << QJsonObject { { u"body"_s,
                                 u"<R><DbUser>u</DbUser><DbPassword>p</DbPassword><Message>"_s
                                     + past + u"</Message></R>"_s },
                   { u"contents"_s,
                       QJsonObject { { u"DbPassword"_s, u"p"_s }, { u"DbUser"_s, u"u"_s },
                           { u"Message"_s, u""_s }, { u"R"_s, u"up"_s } } },
                   { u"open"_s, QJsonArray { u"Message"_s, u"R"_s } },
                   { u"result"_s, u"success [u] [p] [] -"_s } };
    }

    void readsReplies()
    {
        QFETCH(QJsonObject, reply);

        const QByteArray body = reply[u"body"].toString().toUtf8();
        std::optional<TransportError> transportError;
        if (reply[u"transport"].toBool())
            transportError = TransportError { TransportError::Kind::Network, u"Refused"_s };
        if (reply.contains(u"contents")) {
            const AWSXMLReply read = AWSXMLReply::read(body);
            QJsonObject contents;
            for (auto it = read.elementContents.cbegin(); it != read.elementContents.cend(); ++it)
                contents.insert(it.key(), it.value());
            QCOMPARE(contents, reply[u"contents"].toObject());
            QStringList open = read.openElements.values();
            open.sort();
            QCOMPARE(open, reply[u"open"].toVariant().toStringList());
        }
        const CredentialsResult result
            = RedshiftCredentialsRequest::credentialsResult(body, transportError);
        QCOMPARE(describe(result), reply[u"result"].toString());
        QCOMPARE(result.transportError, transportError);
    }
};

QTEST_GUILESS_MAIN(RedshiftCredentialsRequestTest)
#include "tst_redshiftcredentialsrequest.moc"
