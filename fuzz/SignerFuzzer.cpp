// Signs arbitrary requests: fields 0–5 of the input are the method, the URL, the header
// lines ("name:value"), the body, the secret key and the session token. Signing must refuse
// or succeed, never crash, give the same signature twice and sign a given token.
#include "AWSURLRequestSigner.h"
#include "FuzzInput.h"

#include <QDateTime>
#include <QTimeZone>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzInput input(data, size);
    URLRequest request(QUrl(QString::fromUtf8(input.field(1))));
    request.method = QString::fromUtf8(input.field(0));
    for (const QByteArray &line : input.field(2).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.addValue(
                QString::fromUtf8(line.mid(colon + 1)), QString::fromUtf8(line.left(colon)));
    }
    if (input.count() > 3)
        request.body = input.field(3);

    const QString token = QString::fromUtf8(input.field(5));
    const AWSURLRequestSigner signer(QStringLiteral("redshift"), QStringLiteral("us-west-2"),
        { QStringLiteral("AKIDEXAMPLE"), QString::fromUtf8(input.field(4)), token });
    const QDateTime now(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
    const auto first = signer.sign(request, now);
    const auto again = signer.sign(request, now);
    check(first.index() == again.index());
    if (const auto *signedRequest = std::get_if<URLRequest>(&first)) {
        check(*signedRequest == std::get<URLRequest>(again));
        const std::optional<QString> authorization
            = signedRequest->value(QStringLiteral("Authorization"));
        check(authorization && authorization->size() > 64);
        check(signedRequest->value(QStringLiteral("Host")).has_value());
        if (!token.isEmpty()) {
            check(signedRequest->value(QStringLiteral("X-Amz-Security-Token"))
                      .value_or(QString())
                      .endsWith(token));
            check(authorization->contains(QStringLiteral("x-amz-security-token")));
        }
    }
    return 0;
}
