#pragma once

#include "AWSCredentials.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <variant>

// Turns an instant into one fixed-shape UTC text with ASCII digits, whatever the machine's
// locale, time zone or calendar.
using DateFormatter = std::function<QString(const QDateTime &instant)>;

// Why sign() refused a request: no method, no URL or no host (or an invalid signing time).
struct SigningError {
    QString description;
};

// The texts of one signing, stage by stage, as AWS Signature Version 4 names them.
struct SigningStages {
    URLRequest request; // the caller's request with "Host", "X-Amz-Date" (and the token) added
    QString requestTimestamp;
    QString dateStamp;
    QString canonicalRequest;
    QString credentialScope;
    QString stringToSign;
    QString signature;
    QString authorization; // the value of the "Authorization" field
};

// Signs HTTP requests with AWS Signature Version 4 (AWS4-HMAC-SHA256) for one set of
// credentials, region and service other than S3: adds "Host", "X-Amz-Date",
// "X-Amz-Security-Token" when there is a session token, and "Authorization".
class AWSURLRequestSigner {
public:
    AWSURLRequestSigner(QString serviceType, QString awsRegion, AWSCredentials credentials);

    static DateFormatter makeDateFormatter(const QString &pattern);

    // A signed copy of `request`, signed at `now`; the caller's request is not changed.
    std::variant<URLRequest, SigningError> sign(
        const URLRequest &request, const QDateTime &now = QDateTime::currentDateTimeUtc()) const;

    // 64 lowercase hex digits: the signing key derived from `secret`, `dateStamp` and the
    // signer's region and service, applied to `stringToSign`.
    QString computeSignature(
        const QString &stringToSign, const QString &secret, const QString &dateStamp) const;

    // Everything sign() computes for `request` at `now`, so that each stage can be checked.
    std::variant<SigningStages, SigningError> signingStages(
        const URLRequest &request, const QDateTime &now = QDateTime::currentDateTimeUtc()) const;

private:
    QString credentialScope(const QString &dateStamp) const;
    QString stringToSign(const QString &requestTimestamp,
        const QString &credentialScope,
        const QString &canonicalRequest) const;
    QByteArray signingKey(const QString &secret, const QString &dateStamp) const;

    static QByteArray utf8Bytes(const QString &text);
    static QByteArray sha256Digest(const QByteArray &bytes);
    static QByteArray hmacSHA256(const QByteArray &key, const QByteArray &data);
    static QString hexString(const QByteArray &bytes);

    const AWSCredentials credentials;
    const QString awsRegion;
    const QString serviceType;
    const QString hmacShaTypeString = QStringLiteral("AWS4-HMAC-SHA256");
    const QString aws4Request = QStringLiteral("aws4_request");
    const DateFormatter iso8601Formatter;
    const DateFormatter shortDateFormatter;
};
