#include "AWSURLRequestSigner.h"
#include "URLQueryItem.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>

using namespace Qt::StringLiterals;

namespace {

// AWS's published example key pair, not a real one.
const QString accessKeyId = u"AKIDEXAMPLE"_s;
const QString secret = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
const QDateTime instant = QDateTime(QDate(2015, 8, 30), QTime(12, 36), Qt::UTC);

// A GetClusterCredentials call as the credentials request builds it: five parameters, then
// the action.
URLRequest credentialsRequest()
{
    QUrl url(u"https://redshift.us-west-2.amazonaws.com/"_s);
    setQueryItems(url,
        { { u"ClusterIdentifier"_s, u"examplecluster"_s }, { u"DbUser"_s, u"analyst"_s },
            { u"DbName"_s, u"dev"_s }, { u"AutoCreate"_s, u"true"_s },
            { u"DurationSeconds"_s, u"900"_s }, { u"Action"_s, u"GetClusterCredentials"_s } });
    URLRequest request(url);
    request.method = u"POST"_s;
    return request;
}

AWSURLRequestSigner signer()
{
    return AWSURLRequestSigner(u"redshift"_s, u"us-west-2"_s, { accessKeyId, secret, {} });
}

void BM_SignCredentialsRequest(benchmark::State &state)
{
    const AWSURLRequestSigner awsSigner = signer();
    const URLRequest request = credentialsRequest();
    for (auto _ : state)
        benchmark::DoNotOptimize(awsSigner.sign(request, instant));
}
BENCHMARK(BM_SignCredentialsRequest);

void BM_ComputeSignature(benchmark::State &state)
{
    const AWSURLRequestSigner awsSigner = signer();
    const auto stages
        = std::get<SigningStages>(awsSigner.signingStages(credentialsRequest(), instant));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            awsSigner.computeSignature(stages.stringToSign, secret, stages.dateStamp));
}
BENCHMARK(BM_ComputeSignature);

} // namespace

// "--print-example-request" prints the benchmarked request and its "Authorization" value (the
// example key only) so that another signer can be checked against it.
int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--print-example-request") == 0) {
        const URLRequest request = credentialsRequest();
        const auto signedRequest = std::get<URLRequest>(signer().sign(request, instant));
        std::cout << request.method.toStdString() << '\n'
                  << request.url.toEncoded().toStdString() << '\n'
                  << signedRequest.value(u"Authorization"_s).value_or(QString()).toStdString()
                  << '\n';
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
