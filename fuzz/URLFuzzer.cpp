// Feeds arbitrary text to what reads a pasted URL before anything is sent: the query reader,
// the routing of query items and the signer's canonicalisation of the result.
#include "AWSURLRequestSigner.h"
#include "ConnectFlow.h"
#include "RedshiftCredentialsRequest.h"
#include "URLQueryItem.h"

#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return 0;
    auto request = RedshiftCredentialsRequest::create();
    URLQueryItems kept;
    for (const URLQueryItem &item : queryItems(url).value_or(URLQueryItems()))
        if (ConnectFlow::sortQueryItem(item, *request))
            kept.append(item);
    setQueryItems(url, kept);
    setQueryItems(url, request->parameters);
    // What is written must read back as the same items.
    if (queryItems(url).value_or(URLQueryItems()) != request->parameters)
        __builtin_trap();
    AWSURLRequestSigner::canonicalQueryString(url);
    return 0;
}
