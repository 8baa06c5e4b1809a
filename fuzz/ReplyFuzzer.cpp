// Feeds arbitrary bytes to the credentials reply reader and the result extraction: whatever
// a server or proxy answers must end in a result, never a crash, a hang or unbounded memory.
#include "RedshiftCredentialsRequest.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RedshiftCredentialsRequest::credentialsResult(
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), std::nullopt);
    return 0;
}
