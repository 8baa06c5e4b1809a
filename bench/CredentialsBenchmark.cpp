#include "AWSRequest.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray successReply
    = "<GetClusterCredentialsResponse xmlns=\"http://redshift.amazonaws.com/doc/2012-12-01/\">\n"
      "  <GetClusterCredentialsResult>\n"
      "    <DbUser>IAM:analyst</DbUser>\n"
      "    <Expiration>2024-01-01T00:15:00.000Z</Expiration>\n"
      "    <DbPassword>AMAFBx5xZaNEZyqaKyz1ThPqFl4JV8QlV0WuPnsRaTDGJtbyNQ7tE0Rt1VDC1tzfZjSxhR"
      "E9tFqbqZ8NOCIuBQvgwkBAi1jNE9KZtZgJBgo5Aeb0r8rXjKsNhHLhHAmmJ5TSeHhILUSfHgBBuYH8nqR4NuWg"
      "3N5Gd2Ik2u0Xx8NM8CvnmQ==</DbPassword>\n"
      "  </GetClusterCredentialsResult>\n"
      "  <ResponseMetadata>\n"
      "    <RequestId>8d43d1f1-4dce-11ee-a4d1-0a3b5f44b3c1</RequestId>\n"
      "  </ResponseMetadata>\n"
      "</GetClusterCredentialsResponse>\n";

// (a) What the reader does with a typical success reply.
void BM_ReadSuccessReply(benchmark::State &state)
{
    for (auto _ : state) {
        const CredentialsResult result
            = RedshiftCredentialsRequest::result({ 200, {}, successReply, {} });
        benchmark::DoNotOptimize(result.dbPassword);
    }
}
BENCHMARK(BM_ReadSuccessReply);

// The same for Redshift Serverless, whose reply is JSON.
void BM_ReadServerlessSuccessReply(benchmark::State &state)
{
    const QByteArray reply
        = "{\"dbUser\":\"IAMR:analyst\",\"dbPassword\":\"AMAFBx5xZaNEZyqaKyz1ThPqF"
          "l4JV8QlV0WuPnsRaTDGJtbyNQ7tE0Rt1VDC1tzfZjSxhRE9tFqbqZ8NOCIuBQvgwkBAi1jNE9KZtZg"
          "JBgo5Aeb0r8rXjKsNhHLhHAmmJ5TSeHhILUSfHgBBuYH8nqR4NuWg3N5Gd2Ik2u0Xx8NM8CvnmQ==\","
          "\"expiration\":1.704068100E9,\"nextRefreshTime\":1.704067200E9}";
    for (auto _ : state) {
        const CredentialsResult result
            = RedshiftServerlessCredentialsRequest::result({ 200, {}, reply, {} });
        benchmark::DoNotOptimize(result.dbPassword);
    }
}
BENCHMARK(BM_ReadServerlessSuccessReply);

// (b) One whole exchange against a loopback server that closes every connection, so each
// iteration of both benchmarks below opens a fresh connection.
TestHttpServer *server = nullptr;

void BM_WholeCredentialsRequest(benchmark::State &state)
{
    qputenv("AWS_ENDPOINT_URL_REDSHIFT", server->url().toEncoded());
    HttpClient client; // one per connect flow, shared by its calls
    for (auto _ : state) {
        QEventLoop loop;
        bool success = false;
        AWSRequest::send<CredentialsResult>(client.sender(),
            RedshiftCredentialsRequest::request(
                { u"AKIDEXAMPLE"_s, u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s, {} },
                u"us-west-2"_s,
                { { u"ClusterIdentifier"_s, u"examplecluster"_s }, { u"DbUser"_s, u"analyst"_s },
                    { u"DbName"_s, u"dev"_s } }),
            &RedshiftCredentialsRequest::result, [&](const CredentialsResult &result) {
                success = result.isSuccess();
                loop.quit();
            });
        loop.exec();
        if (!success)
            state.SkipWithError("the request failed");
    }
}
BENCHMARK(BM_WholeCredentialsRequest)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same POST with a bare QNetworkAccessManager: no signing, no client, no parse.
void BM_BareNetworkAccessManagerPost(benchmark::State &state)
{
    QNetworkAccessManager manager;
    QUrl url = server->url();
    url.setPath(u"/"_s);
    url.setQuery(
        u"ClusterIdentifier=examplecluster&DbUser=analyst&DbName=dev&Action=GetClusterCredentials"_s);
    const QNetworkRequest request(url);
    for (auto _ : state) {
        QNetworkReply *reply = manager.sendCustomRequest(request, "POST", QByteArray());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        benchmark::DoNotOptimize(reply->readAll());
        if (reply->error() != QNetworkReply::NoError)
            state.SkipWithError("the request failed");
        delete reply;
    }
}
BENCHMARK(BM_BareNetworkAccessManagerPost)->UseRealTime()->Unit(benchmark::kMicrosecond);

// For reference: a manager made for each request.
void BM_FreshManagerPost(benchmark::State &state)
{
    QUrl url = server->url();
    url.setPath(u"/"_s);
    const QNetworkRequest request(url);
    for (auto _ : state) {
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.sendCustomRequest(request, "POST", QByteArray());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        delete reply;
    }
}
BENCHMARK(BM_FreshManagerPost)->UseRealTime()->Unit(benchmark::kMicrosecond);

// For reference: the same POST through the HttpClient alone (no signing, no parse), to tell
// what the client costs from what the credentials call adds on top of it.
void BM_ClientOnlyPost(benchmark::State &state)
{
    QUrl url = server->url();
    url.setPath(u"/"_s);
    url.setQuery(
        u"ClusterIdentifier=examplecluster&DbUser=analyst&DbName=dev&Action=GetClusterCredentials"_s);
    HttpClient client;
    URLRequest request(url);
    request.method = u"POST"_s;
    for (auto _ : state) {
        QEventLoop loop;
        client.send(request, [&loop](const HttpReply &) { loop.quit(); });
        loop.exec();
    }
}
BENCHMARK(BM_ClientOnlyPost)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TestHttpServer loopback;
    loopback.setReply({ 200, { { "Content-Type", "text/xml" } }, successReply });
    server = &loopback;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
