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

using namespace Qt::StringLiterals;

namespace {

QString text(const std::optional<QString> &value)
{
    return value ? u'[' + *value + u']' : u"-"_s;
}

// See replies.json.
template <class Result> QString describe(const Result &result)
{
    QStringList parts;
    if constexpr (std::is_same_v<Result, CredentialsResult>)
        parts << (result.isSuccess() ? u"success"_s : u"failure"_s) << text(result.dbUser)
              << text(result.dbPassword);
    else
        parts << text(result.address) << (result.port ? QString::number(*result.port) : u"-"_s)
              << text(result.clusterStatus);
    const auto &error = result.transportError;
    return (parts << text(result.errorMessage)
                  << text(error ? std::optional(error->description) : std::nullopt))
        .join(u' ');
}

// The call a row names (see requests.json) with the test key, handed to `use`.
template <class Use> auto withCall(const QJsonObject &row, Use use)
{
    const auto field = [&row](const QString &name) {
        return row.contains(name) ? std::optional(row[name].toString()) : std::nullopt;
    };
    const auto filled = [&](auto call) {
        call->awsRegion = row[u"region"].toString(u"us-west-2"_s);
        call->accessKeyID = u"AKIDEXAMPLE"_s;
        call->secretAccessKey = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
        call->sessionToken = field(u"token"_s);
        call->signingTime = QDateTime::fromString(
            row[u"signedAt"].toString(u"2025-01-02T03:04:05Z"_s), Qt::ISODate);
        return use(call);
    };
    const QString name = row[u"call"].toString();
    if (name == u"DescribeClusters") {
        auto call = RedshiftDescribeClustersRequest::create();
        call->clusterIdentifier = field(u"cluster"_s);
        return filled(call);
    }
    if (name == u"GetCredentials") {
        auto call = RedshiftServerlessCredentialsRequest::create();
        call->workgroupName = row[u"workgroup"].toString();
        call->dbName = field(u"dbName"_s);
        call->durationSeconds = field(u"durationSeconds"_s);
        return filled(call);
    }
    auto call = RedshiftCredentialsRequest::create();
    for (const QJsonValue &item : row[u"parameters"].toArray())
        call->parameters.append({ item[0].toString(),
            item[1].isNull() ? std::nullopt : std::optional(item[1].toString()) });
    return filled(call);
}

} // namespace

class RedshiftCallsTest : public QObject {
    Q_OBJECT

    CleanNetworkEnv m_network;
    QStringList m_delivered;

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void prepares_data() { addTestCaseRows(QFINDTESTDATA("requests.json")); }

    void prepares()
    {
        QFETCH(QJsonObject, row);
        const auto prepared = withCall(row, [](auto call) { return call->prepare(); });
        QStringList sent;
        if (const auto *error = std::get_if<TransportError>(&prepared))
            sent << error->description;
        if (const auto *request = std::get_if<URLRequest>(&prepared)) {
            sent << request->method + u' ' + QString::fromUtf8(request->url.toEncoded());
            for (const auto &[name, value] : request->headerFields())
                sent << name + u": "_s + value;
            if (request->body)
                sent << QString::fromUtf8(*request->body);
        }
        QCOMPARE(sent, row[u"sent"].toVariant().toStringList());
    }

    void reads_data() { addTestCaseRows(QFINDTESTDATA("replies.json")); }

    void reads()
    {
        QFETCH(QJsonObject, row);
        // Two open elements each keep this text: past the budget, reading stops before it.
        const QString past(AWSXMLReply::maxGatheredCharacters / 2 + 1, u'x');
        const QByteArray body = row[u"body"].toString().replace(u"@past"_s, past).toUtf8();
        const QString call = row[u"call"].toString();
        QString result;
        if (row.contains(u"environment")) {
            TestHttpServer server(row[u"tls"].toBool());
            server.setReply({ 200, {}, body });
            ScopedEnv::Settings settings;
            const QJsonObject environment = row[u"environment"].toObject();
            for (auto it = environment.begin(); it != environment.end(); ++it) {
                settings.append({ it.key().toUtf8(),
                    it->toString()
                        .replace(u"@server"_s, server.url().toString())
                        .replace(u"@bundle"_s, TestHttpServer::caBundlePath())
                        .toUtf8() });
            }
            const ScopedEnv scoped(settings);
            URLSession session;
            m_delivered.clear();
            const bool sent = withCall(row, [&](auto call) {
                return !call->start(session,
                                [this](const auto &result) {
                                    QVERIFY(QThread::currentThread() == qApp->thread());
                                    m_delivered << describe(result);
                                })
                            .isNull();
            });
            QVERIFY(m_delivered.isEmpty());
            QTRY_COMPARE(m_delivered.size(), 1);
            QCOMPARE(server.requests().size(), sent ? 1 : 0);
            result = (sent ? u"sent: "_s : u"not sent: "_s) + m_delivered[0];
        } else if (call == u"DescribeClusters") {
            result = describe(RedshiftDescribeClustersRequest::endpointResult(body, std::nullopt));
        } else {
            result = describe((call == u"GetCredentials"
                    ? &RedshiftServerlessCredentialsRequest::credentialsResult
                    : &RedshiftCredentialsRequest::credentialsResult)(body, std::nullopt));
        }
        QCOMPARE(result, row[u"result"].toString());
    }
};

QTEST_GUILESS_MAIN(RedshiftCallsTest)
#include "tst_redshiftcalls.moc"
