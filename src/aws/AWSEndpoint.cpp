#include "AWSEndpoint.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {

constexpr qint64 maxBundleSize = 16 * 1024 * 1024;

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

std::variant<QList<QSslCertificate>, TransportError> AWSEndpoint::additionalCACertificates(
    const QUrl &url)
{
    // A plain http endpoint uses no TLS, so the bundle cannot matter to it.
    const QString path = qEnvironmentVariable("AWS_CA_BUNDLE");
    if (path.isEmpty() || url.scheme() != u"https")
        return QList<QSslCertificate>();
    // Only a regular file of sensible size: a pipe would block and a device never end.
    const QFileInfo info(path);
    if (info.exists() && (!info.isFile() || info.size() > maxBundleSize))
        return configurationError(
            QStringLiteral("AWS_CA_BUNDLE names no PEM file of at most 16 MiB: %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return configurationError(
            QStringLiteral("AWS_CA_BUNDLE names a file that cannot be read: %1 (%2)")
                .arg(path, file.errorString()));

    // A bundle often holds every public root, and reading and parsing it takes far longer
    // than a loopback exchange, so the last one is kept while the file looks unchanged.
    struct Cached {
        QString path;
        qint64 size = -1;
        QDateTime modified;
        QList<QSslCertificate> certificates;
    };
    static QMutex cacheMutex;
    static Cached cached;
    QList<QSslCertificate> certificates;
    {
        const QMutexLocker locker(&cacheMutex);
        if (cached.path != path || cached.size != info.size()
            || cached.modified != info.lastModified()) {
            cached = Cached { path, info.size(), info.lastModified(),
                QSslCertificate::fromData(file.readAll(), QSsl::Pem) };
        }
        certificates = cached.certificates;
    }
    if (certificates.isEmpty())
        return configurationError(
            QStringLiteral("AWS_CA_BUNDLE holds no PEM certificate: %1").arg(path));
    return certificates;
}
