#include "AWSEndpoint.h"
#include "AWSXMLReply.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftDescribeClustersRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <list>

using namespace Qt::StringLiterals;

namespace {

const char *const kinds[]
    = { "Network", "TimedOut", "Cancelled", "ReplyTooLarge", "Configuration" };

QString text(const std::optional<QString> &value)
{
    return value ? u'[' + *value + u']' : u"-"_s;
}

// A transport error shows its kind only, since a network error's description comes from Qt.
QString kind(const std::optional<TransportError> &error)
{
    return error ? QString::fromLatin1(kinds[static_cast<int>(error->kind)]) : u"-"_s;
}

// "success|failure [dbUser] [dbPassword] [errorMessage] transportErrorKind", - for absent.
QString describe(const CredentialsResult &result)
{
    return u"%1 %2 %3 %4 %5"_s.arg(result.isSuccess() ? u"success"_s : u"failure"_s,
        text(result.dbUser), text(result.dbPassword), text(result.errorMessage),
        kind(result.transportError));
}

// "[address] port [clusterStatus] [errorMessage] transportErrorKind", - for absent.
QString describe(const ClusterEndpointResult &result)
{
    return u"%1 %2 %3 %4 %5"_s.arg(text(result.address),
        result.port ? QString::number(*result.port) : u"-"_s, text(result.clusterStatus),
        text(result.errorMessage), kind(result.transportError));
}

std::optional<QString> field(const QJsonObject &row, const QString &name)
{
    return row.contains(name) ? std::optional(row[name].toString()) : std::nullopt;
}

// The call a row names (see requests.json) with the test key, handed to `use`.
template <class Use> auto withCall(const QJsonObject &row, Use use)
{
    const auto filled = [&row, &use](auto call) {
        call->awsRegion = row[u"region"].toString(u"us-west-2"_s);
        call->accessKeyID = u"AKIDEXAMPLE"_s;
        call->secretAccessKey = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
        call->sessionToken = field(row, u"token"_s);
        if (row.contains(u"amzDate")) {
            call->signingTime
                = QDateTime::fromString(row[u"amzDate"].toString(), u"yyyyMMdd'T'HHmmss'Z'"_s);
            call->signingTime->setTimeSpec(Qt::UTC);
        }
        return use(call);
    };
    const QString name = row[u"call"].toString();
    if (name == u"DescribeClusters") {
        auto call = RedshiftDescribeClustersRequest::create();
        call->clusterIdentifier = field(row, u"cluster"_s);
        return filled(call);
    }
    if (name == u"GetCredentials") {
        auto call = RedshiftServerlessCredentialsRequest::create();
        call->workgroupName = row[u"workgroup"].toString();
        call->dbName = field(row, u"dbName"_s);
        call->durationSeconds = field(row, u"durationSeconds"_s);
        return filled(call);
    }
    auto call = RedshiftCredentialsRequest::create();
    for (const QJsonValue &item : row[u"parameters"].toArray()) {
        call->parameters.append({ item[0].toString(),
            item[1].isNull() ? std::nullopt : std::optional(item[1].toString()) });
    }
    return filled(call);
}

} // namespace

class RedshiftCallsTest : public QObject {
    Q_OBJECT

    CleanNetworkEnv m_environment;

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void preparesTheSignedRequest_data() { addTestCaseRows(QFINDTESTDATA("requests.json")); }

    void preparesTheSignedRequest()
    {
        QFETCH(QJsonObject, row);
        ScopedEnv endpoint("AWS_ENDPOINT_URL", "http://aws.example.test");
        const URLRequest sent
            = std::get<URLRequest>(withCall(row, [](auto call) { return call->prepare(); }));
        QStringList headers;
        for (const auto &[name, value] : sent.headerFields())
            headers << name + u": "_s + value;
        QCOMPARE(
            sent.method + u' ' + QString::fromUtf8(sent.url.toEncoded()), row[u"sent"].toString());
        QCOMPARE(headers, row[u"headers"].toVariant().toStringList());
        QCOMPARE(QString::fromUtf8(sent.body.value_or(QByteArray())), row[u"body"].toString());
    }

    void findsTheEndpoint_data() { addTestCaseRows(QFINDTESTDATA("endpoints.json")); }

    void findsTheEndpoint()
    {
        QFETCH(QJsonObject, row);
        const QJsonObject environment = row[u"environment"].toObject();
        std::list<QByteArray> names; // outlive the settings, which keep pointers to them
        std::list<ScopedEnv> settings;
        for (auto it = environment.begin(); it != environment.end(); ++it) {
            names.push_back(it.key().toUtf8());
            settings.emplace_back(names.back().constData(),
                it.value()
                    .toString()
                    .replace(u"@bundle"_s, TestHttpServer::caBundlePath())
                    .replace(u"@text"_s, QFINDTESTDATA("endpoints.json"))
                    .toUtf8());
        }
        const auto prepared = withCall(row, [](auto call) { return call->prepare(); });
        const auto refusal = [](const TransportError &error) {
            return kind(error) + u": "_s + error.description;
        };
        QString outcome;
        if (const auto *error = std::get_if<TransportError>(&prepared)) {
            outcome = refusal(*error);
        } else {
            const QUrl url = std::get<URLRequest>(prepared).url;
            const auto trusted = AWSEndpoint::additionalCACertificates(url);
            outcome = url.adjusted(QUrl::RemoveQuery).toString() + u' '
                + (std::holds_alternative<TransportError>(trusted)
                        ? refusal(std::get<TransportError>(trusted))
                        : u"trusting %1 more"_s.arg(
                            std::get<QList<QSslCertificate>>(trusted).size()));
        }
        const QString expected = row[u"outcome"].toString();
        if (expected.endsWith(u'*'))
            QVERIFY2(outcome.startsWith(expected.chopped(1)), qPrintable(outcome));
        else
            QCOMPARE(outcome, expected);
    }

    void exchanges_data() { addTestCaseRows(QFINDTESTDATA("exchanges.json")); }

    void exchanges()
    {
        QFETCH(QJsonObject, row);
        TestHttpServer server(TestHttpServer::Mode::Tls);
        server.setReply({ 200, {}, row[u"reply"].toString().toUtf8() });
        ScopedEnv endpoint("AWS_ENDPOINT_URL", server.url().toEncoded());
        ScopedEnv bundle(
            "AWS_CA_BUNDLE", row[u"bundle"].toString(TestHttpServer::caBundlePath()).toUtf8());
        URLSession session;
        struct Delivery {
            int calls = 0;
            bool onMainThread = false;
            QString result;
        };
        const auto delivery = std::make_shared<Delivery>();
        const QPointer<URLSessionTask> task = withCall(row, [&session, delivery](auto call) {
            return call->start(session, [delivery](const auto &result) {
                ++delivery->calls;
                delivery->onMainThread = QThread::currentThread() == qApp->thread();
                delivery->result = describe(result);
            });
        });

        QCOMPARE(delivery->calls, 0);
        QCOMPARE(task.isNull(), row[u"arrived"].toString().isEmpty());
        QTRY_COMPARE(delivery->calls, 1);
        QVERIFY(delivery->onMainThread);
        QCOMPARE(delivery->result, row[u"result"].toString());
        QStringList arrived;
        for (const RecordedRequest &request : server.requests()) {
            arrived << QString::fromUtf8(request.method + ' ' + request.target + ' '
                + request.header("X-Amz-Target").value_or("-") + ' ' + request.body);
        }
        QCOMPARE(arrived.join(u'\n'), row[u"arrived"].toString());
    }

    void readsReplies_data()
    {
        addTestCaseRows(QFINDTESTDATA("replies.json"));
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
        QFETCH(QJsonObject, row);

        const QByteArray body = row[u"body"].toString().toUtf8();
        std::optional<TransportError> transportError;
        if (row.contains(u"transport")) {
            const auto named = std::find(
                std::begin(kinds), std::end(kinds), row[u"transport"].toString().toLatin1());
            transportError
                = TransportError { static_cast<TransportError::Kind>(named - std::begin(kinds)),
                      u"Refused"_s };
        }
        if (row.contains(u"contents")) {
            const AWSXMLReply read = AWSXMLReply::read(body);
            QJsonObject contents;
            for (auto it = read.elementContents.cbegin(); it != read.elementContents.cend(); ++it)
                contents.insert(it.key(), it.value());
            QCOMPARE(contents, row[u"contents"].toObject());
            QStringList open = read.openElements.values();
            open.sort();
            QCOMPARE(open, row[u"open"].toVariant().toStringList());
        }
        const QString call = row[u"call"].toString();
        const QString result = call == u"DescribeClusters"
            ? describe(RedshiftDescribeClustersRequest::endpointResult(body, transportError))
            : describe((call == u"GetCredentials"
                    ? &RedshiftServerlessCredentialsRequest::credentialsResult
                    : &RedshiftCredentialsRequest::credentialsResult)(body, transportError));
        QCOMPARE(result, row[u"result"].toString());
    }
};

QTEST_GUILESS_MAIN(RedshiftCallsTest)
#include "tst_redshiftcalls.moc"
