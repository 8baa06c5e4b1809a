#include "MainThread.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"
#include "TestHttpServer.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

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

// (a) What the session thread does with a typical success reply.
void BM_ReadSuccessReply(benchmark::State &state)
{
    for (auto _ : state) {
        const CredentialsResult result
            = RedshiftCredentialsRequest::credentialsResult(successReply, std::nullopt);
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
            = RedshiftServerlessCredentialsRequest::credentialsResult(reply, std::nullopt);
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
    URLSession session; // one per connect flow, shared by its calls
    for (auto _ : state) {
        auto request = RedshiftCredentialsRequest::create();
        request->awsRegion = u"us-west-2"_s;
        request->accessKeyID = u"AKIDEXAMPLE"_s;
        request->secretAccessKey = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
        request->parameters = { { u"ClusterIdentifier"_s, u"examplecluster"_s },
            { u"DbUser"_s, u"analyst"_s }, { u"DbName"_s, u"dev"_s } };
        QEventLoop loop;
        bool success = false;
        request->start(session, [&](const CredentialsResult &result) {
            success = result.isSuccess();
            loop.quit();
        });
        loop.exec();
        if (!success)
            state.SkipWithError("the request failed");
    }
}
BENCHMARK(BM_WholeCredentialsRequest)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same POST with a bare QNetworkAccessManager on the main thread: no signing, no
// session thread, no parse.
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

// For reference: the same POST through a URLSession alone (no signing, no parse), to tell
// what the session thread costs from what the credentials request adds on top of it.
void BM_SessionOnlyPost(benchmark::State &state)
{
    QUrl url = server->url();
    url.setPath(u"/"_s);
    url.setQuery(
        u"ClusterIdentifier=examplecluster&DbUser=analyst&DbName=dev&Action=GetClusterCredentials"_s);
    URLSession session;
    for (auto _ : state) {
        URLRequest request(url);
        request.method = u"POST"_s;
        QEventLoop loop;
        URLSessionTask *task = session.dataTask(
            request, [&loop](auto, auto, auto) { MainThread::post([&loop] { loop.quit(); }); });
        task->resume();
        loop.exec();
    }
}
BENCHMARK(BM_SessionOnlyPost)->UseRealTime()->Unit(benchmark::kMicrosecond);

// For reference: one round trip from the main thread to a worker thread and back, the
// floor of what running the exchange off the GUI thread costs over a bare manager.
void BM_ThreadRoundTrip(benchmark::State &state)
{
    QThread worker;
    worker.start();
    QObject context;
    context.moveToThread(&worker);
    for (auto _ : state) {
        QEventLoop loop;
        QMetaObject::invokeMethod(
            &context,
            [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); },
            Qt::QueuedConnection);
        loop.exec();
    }
    worker.quit();
    worker.wait();
}
BENCHMARK(BM_ThreadRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

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
