// Feeds arbitrary bytes to every reply reader (the XML of GetClusterCredentials and
// DescribeClusters, the JSON of Redshift Serverless): whatever a server or proxy answers
// must end in a result, never a crash, a hang or unbounded memory.
#include "FuzzInput.h"
#include "RedshiftCredentialsRequest.h"
#include "RedshiftDescribeClustersRequest.h"
#include "RedshiftServerlessCredentialsRequest.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const HttpReply reply { 200, {}, body, {} };
    RedshiftCredentialsRequest::result(reply);
    RedshiftDescribeClustersRequest::result(reply);
    const CredentialsResult serverless = RedshiftServerlessCredentialsRequest::result(reply);
    // A JSON reader keeps no partial document: nothing comes of a body cut short.
    check(!serverless.isSuccess() || body.trimmed().endsWith('}'));
    return 0;
}
