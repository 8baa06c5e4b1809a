#pragma once

#include "TransportError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <variant>

// Where one AWS service is reached, read from the environment as the AWS SDKs read it.
// Problems are TransportErrors of kind Configuration.
class AWSEndpoint {
public:
    // `variable`: the service's own override, e.g. "AWS_ENDPOINT_URL_REDSHIFT";
    // `hostPrefix`: its regional host before the region, e.g. "redshift".
    AWSEndpoint(QByteArray variable, QString hostPrefix);

    // The service's override, else AWS_ENDPOINT_URL, else https://<hostPrefix>.<region>.
    // amazonaws.com (amazonaws.com.cn for cn- regions). An override keeps only its scheme,
    // host and port.
    std::variant<QUrl, TransportError> url(const QString &region) const;

private:
    QByteArray m_variable;
    QString m_hostPrefix;
};
