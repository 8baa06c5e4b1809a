#include "AWSEndpoint.h"

namespace {

TransportError configurationError(QString description)
{
    return TransportError { TransportError::Kind::Configuration, std::move(description) };
}

} // namespace

AWSEndpoint::AWSEndpoint(QByteArray variable, QString hostPrefix)
    : m_variable(std::move(variable))
    , m_hostPrefix(std::move(hostPrefix))
{
}

std::variant<QUrl, TransportError> AWSEndpoint::url(const QString &region) const
{
    // The AWS SDKs' convention: a service-specific override before the general one.
    for (const QByteArray &variable : { m_variable, QByteArray("AWS_ENDPOINT_URL") }) {
        const QString value = qEnvironmentVariable(variable.constData());
        if (value.isEmpty())
            continue;
        const QUrl url(value, QUrl::StrictMode);
        const bool usable = url.isValid() && !url.host().isEmpty()
            && (url.scheme() == u"http" || url.scheme() == u"https") && url.userInfo().isEmpty()
            && (url.path().isEmpty() || url.path() == u"/") && !url.hasQuery()
            && !url.hasFragment();
        if (!usable) {
            const QString shown = url.isValid() ? url.toString(QUrl::RemovePassword) : value;
            return configurationError(QStringLiteral("%1 is not an http or https URL with a host "
                                                     "and an optional port, and nothing else: %2")
                                          .arg(QString::fromLatin1(variable), shown));
        }
        QUrl endpoint;
        endpoint.setScheme(url.scheme());
        endpoint.setHost(url.host());
        endpoint.setPort(url.port());
        return endpoint;
    }

    const QString domain = region.startsWith(u"cn-") ? QStringLiteral("amazonaws.com.cn")
                                                     : QStringLiteral("amazonaws.com");
    const QUrl url(
        QStringLiteral("https://%1.%2.%3").arg(m_hostPrefix, region, domain), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || url.port() != -1
        || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return configurationError(
            QStringLiteral("The region cannot stand in a host name: %1").arg(region));
    return url;
}
