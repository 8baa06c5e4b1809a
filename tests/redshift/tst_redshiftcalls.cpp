#include "AWSRequest.h"
#include "AWSXMLReply.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftDescribeClustersRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace {

// See replies.json.
template <class Result> QString describe(const Result &result)
{
    const auto text = [](const std::optional<QString> &value) {
        return value ? u'[' + *value + u']' : u"-"_s;
    };
    QStringList parts;
    if constexpr (std::is_same_v<Result, CredentialsResult>)
        parts << (result.isSuccess() ? u"success"_s : u"failure"_s) << text(result.dbUser)
              << text(result.dbPassword);
    else
        parts << text(result.address) << (result.port ? QString::number(*result.port) : u"-"_s)
              << text(result.clusterStatus);
    std::optional<QString> error; // a network error's description comes from Qt
    if (const auto &transport = result.transportError)
        error = transport->kind == TransportError::Kind::Network ? u"network error"_s
                                                                 : transport->description;
    return (parts << text(result.errorMessage) << text(error)).join(u' ');
}

// The call a row names (see requests.json), signed with the test key, as its request (with
// `Call::request`) and its result reader: use(request, reader).
template <class Use> auto withCall(const QJsonObject &row, Use use)
{
    const auto field = [&row](const QString &name) {
        return row.contains(name) ? std::optional(row[name].toString()) : std::nullopt;
    };
    const AWSCredentials credentials { u"AKIDEXAMPLE"_s,
        u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s, field(u"token"_s) };
    const QString region = row[u"region"].toString(u"us-west-2"_s);
    const QDateTime signedAt
        = QDateTime::fromString(row[u"signedAt"].toString(u"2025-01-02T03:04:05Z"_s), Qt::ISODate);
    const QString name = row[u"call"].toString();
    if (name == u"DescribeClusters")
        return use(RedshiftDescribeClustersRequest::request(
                       credentials, region, field(u"cluster"_s), signedAt),
            &RedshiftDescribeClustersRequest::result);
    if (name == u"GetCredentials")
        return use(
            RedshiftServerlessCredentialsRequest::request(credentials, region,
                { row[u"workgroup"].toString(), field(u"dbName"_s), field(u"durationSeconds"_s) },
                signedAt),
            &RedshiftServerlessCredentialsRequest::result);
    URLQueryItems parameters;
    for (const QJsonValue &item : row[u"parameters"].toArray())
        parameters.append({ item[0].toString(),
            item[1].isNull() ? std::nullopt : std::optional(item[1].toString()) });
    return use(name == u"GetClusterCredentialsWithIAM"
            ? RedshiftCredentialsRequest::requestWithIAM(credentials, region, parameters, signedAt)
            : RedshiftCredentialsRequest::request(credentials, region, parameters, signedAt),
        &RedshiftCredentialsRequest::result);
}

} // namespace

class RedshiftCallsTest : public QObject {
    Q_OBJECT

    const ScopedEnv m_clean { cleanEnvironment() };
    QStringList m_delivered;

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void prepares_data() { addTestCaseRows(QFINDTESTDATA("requests.json")); }

    void prepares()
    {
        QFETCH(QJsonObject, row);
        const auto prepared = withCall(row, [](const auto &request, auto) { return request; });
        QStringList sent;
        if (const auto *error = std::get_if<TransportError>(&prepared))
            sent << error->description;
        if (const auto *request = std::get_if<URLRequest>(&prepared)) {
            sent << request->method + u' ' + QString::fromUtf8(request->url.toEncoded());
            for (const auto &[name, value] : request->headerFields())
                sent << name + u": "_s + value;
            sent << QString::fromUtf8(request->body.value_or("-"));
        }
        QCOMPARE(sent, row[u"sent"].toVariant().toStringList());
    }

    void delivers_data() { addTestCaseRows(QFINDTESTDATA("replies.json")); }

    void delivers()
    {
        QFETCH(QJsonObject, row);
        TestHttpServer server(row[u"tls"].toBool());
        // Ten open elements each keep this text: past the budget, reading stops before it.
        const QString past(AWSXMLReply::maxGatheredCharacters / 10 + 1, u'x');
        server.setReply({ .status = row[u"status"].toInt(200),
            .body = row[u"body"].toString().replace(u"@past"_s, past).toUtf8(),
            .dripMs = row[u"dripMs"].toInt() });
        ScopedEnv::Settings set { { "AWS_CA_BUNDLE", TestHttpServer::caBundlePath } };
        const QJsonObject env
            = row.value(u"environment").toObject({ { u"AWS_ENDPOINT_URL"_s, u"@server"_s } });
        const QString url = server.url().toString();
        for (const QString &name : env.keys())
            set.append({ name.toUtf8(), env[name].toString().replace(u"@server"_s, url).toUtf8() });
        const ScopedEnv scoped(set);
        // As the connect flow makes its client.
        HttpClient client(qEnvironmentVariable("AWS_CA_BUNDLE"));
        client.deadline = std::chrono::milliseconds(row[u"deadlineMs"].toInt(60000));
        m_delivered.clear();
        const bool sent = withCall(row, [&](const auto &request, auto read) {
            using Result = decltype(read(HttpReply()));
            return !AWSRequest::send<Result>(
                client.sender(), request, read, [this](const Result &result) {
                    QVERIFY(QThread::currentThread() == qApp->thread());
                    m_delivered << describe(result);
                }).isNull();
        });
        QVERIFY(m_delivered.isEmpty());
        QTRY_COMPARE(m_delivered.size(), 1);
        QStringList paths;
        for (const RecordedRequest &request : server.requests())
            paths << QString::fromUtf8(request.target.split('?')[0]);
        const QString how = u"%1 [%2]: "_s.arg(sent ? u"sent" : u"not sent", paths.join(u' '));
        QCOMPARE(how + m_delivered[0], row[u"result"].toString());
    }
};

QTEST_GUILESS_MAIN(RedshiftCallsTest)
#include "tst_redshiftcalls.moc"
