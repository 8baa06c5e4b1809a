#include "RedshiftCredentialsRequest.h"

#include "AWSURLRequestSigner.h"
#include "MainThread.h"
#include "URLRequest.h"
#include "URLSession.h"
#include "URLSessionTask.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSslCertificate>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamReader>

#include <variant>

namespace {

// Where an endpoint comes from: the regional default, or an override from the environment.
struct Endpoint {
    std::optional<QUrl> url;
    QString problem; // set when an override is unusable
};

// The AWS SDKs' convention: a service-specific override before the general one.
constexpr const char *endpointVariables[] = { "AWS_ENDPOINT_URL_REDSHIFT", "AWS_ENDPOINT_URL" };

std::optional<Endpoint> endpointOverride()
{
    for (const char *variable : endpointVariables) {
        const QString value = qEnvironmentVariable(variable);
        if (value.isEmpty())
            continue;
        const QUrl url(value, QUrl::StrictMode);
        const bool usable = url.isValid() && !url.host().isEmpty()
            && (url.scheme() == u"http" || url.scheme() == u"https") && url.userInfo().isEmpty()
            && (url.path().isEmpty() || url.path() == u"/") && !url.hasQuery()
            && !url.hasFragment();
        if (!usable) {
            const QString shown = url.isValid() ? url.toString(QUrl::RemovePassword) : value;
            return Endpoint { std::nullopt,
                QStringLiteral("%1 is not an http or https URL with a host and an "
                               "optional port, and nothing else: %2")
                    .arg(QString::fromLatin1(variable), shown) };
        }
        QUrl endpoint;
        endpoint.setScheme(url.scheme());
        endpoint.setHost(url.host());
        endpoint.setPort(url.port());
        return Endpoint { endpoint, QString() };
    }
    return std::nullopt;
}

// https://redshift.<region>.amazonaws.com, or the China partition's domain for cn- regions.
QUrl regionalEndpoint(const QString &region)
{
    const QString domain = region.startsWith(u"cn-") ? QStringLiteral("amazonaws.com.cn")
                                                     : QStringLiteral("amazonaws.com");
    const QString host = QStringLiteral("redshift.") + region + u'.' + domain;
    const QUrl url(QStringLiteral("https://") + host, QUrl::StrictMode);
    // The region comes from a host name that already parsed, so only a caller that bypassed
    // that can get here with text that is no host.
    if (!url.isValid() || url.host().isEmpty() || !url.path().isEmpty() || url.port() != -1
        || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        qFatal("API Endpoint is an invalid URL");
    return url;
}

// The certificates of AWS_CA_BUNDLE (none when it is unset), or why they cannot be used.
std::variant<QList<QSslCertificate>, QString> caBundle()
{
    const QString path = qEnvironmentVariable("AWS_CA_BUNDLE");
    if (path.isEmpty())
        return QList<QSslCertificate>();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("AWS_CA_BUNDLE names a file that cannot be read: %1 (%2)")
            .arg(path, file.errorString());

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
    const QFileInfo info(file);
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
        return QStringLiteral("AWS_CA_BUNDLE holds no PEM certificate: %1").arg(path);
    return certificates;
}

bool isMissing(const std::optional<QString> &text)
{
    return !text || text->isEmpty();
}

} // namespace

std::shared_ptr<RedshiftCredentialsRequest> RedshiftCredentialsRequest::create()
{
    return std::shared_ptr<RedshiftCredentialsRequest>(new RedshiftCredentialsRequest());
}

std::variant<RedshiftCredentialsRequest::Prepared, CredentialsResult>
RedshiftCredentialsRequest::prepare()
{
    const auto failure
        = [](std::optional<QString> errorMessage, std::optional<TransportError> transportError) {
              CredentialsResult result;
              result.errorMessage = std::move(errorMessage);
              result.transportError = std::move(transportError);
              return result;
          };
    const auto configurationError = [](QString description) {
        return TransportError { TransportError::Kind::Configuration, std::move(description) };
    };

    QStringList missing;
    if (isMissing(awsRegion))
        missing << QStringLiteral("the AWS region");
    if (isMissing(accessKeyID))
        missing << QStringLiteral("the access key ID");
    if (isMissing(secretAccessKey))
        missing << QStringLiteral("the secret access key");
    if (!missing.isEmpty()) {
        const QString list = missing.size() == 1 ? missing.first()
                                                 : missing.mid(0, missing.size() - 1).join(u", ")
                + QStringLiteral(" and ") + missing.last();
        return failure(
            QStringLiteral("The credentials request was not sent: %1 %2 missing.")
                .arg(list, missing.size() == 1 ? QStringLiteral("is") : QStringLiteral("are")),
            std::nullopt);
    }

    QUrl url;
    if (const std::optional<Endpoint> endpoint = endpointOverride()) {
        if (!endpoint->url)
            return failure(std::nullopt, configurationError(endpoint->problem));
        url = *endpoint->url;
    } else {
        url = regionalEndpoint(*awsRegion);
    }

    Prepared prepared;
    auto bundle = caBundle();
    if (const QString *problem = std::get_if<QString>(&bundle))
        return failure(std::nullopt, configurationError(*problem));
    prepared.configuration.additionalCACertificates
        = std::get<QList<QSslCertificate>>(std::move(bundle));

    parameters.removeIf([](const URLQueryItem &item) { return item.name == u"Action"; });
    parameters.append({ QStringLiteral("Action"), QStringLiteral("GetClusterCredentials") });
    setQueryItems(url, parameters);

    URLRequest request(url);
    request.method = QStringLiteral("POST");

    const AWSURLRequestSigner signer(serviceType, *awsRegion, *accessKeyID, *secretAccessKey);
    auto signedRequest
        = signer.sign(request, signingTime.value_or(QDateTime::currentDateTimeUtc()));
    if (const SigningError *error = std::get_if<SigningError>(&signedRequest))
        return failure(std::nullopt, configurationError(error->description));
    prepared.request = std::get<URLRequest>(std::move(signedRequest));
    return prepared;
}

QPointer<URLSessionTask> RedshiftCredentialsRequest::start(Completion completion)
{
    auto self = shared_from_this();
    auto prepared = prepare();
    if (CredentialsResult *failure = std::get_if<CredentialsResult>(&prepared)) {
        // Nothing is sent: the failure still reaches `completion` later, on the main thread.
        MainThread::post([self, completion, result = std::move(*failure)] { completion(result); });
        return nullptr;
    }

    auto &[request, configuration] = std::get<Prepared>(prepared);
    auto *session = new URLSession(std::move(configuration));
    URLSessionTask *task = session->dataTask(std::move(request),
        [self, completion](std::optional<QByteArray> body, std::optional<HTTPURLResponse>,
            std::optional<TransportError> transportError) {
            self->handleTaskCompletion(body, transportError, completion);
        });
    task->resume();
    return task;
}

void RedshiftCredentialsRequest::handleTaskCompletion(const std::optional<QByteArray> &body,
    const std::optional<TransportError> &transportError,
    Completion completion)
{
    // The HTTP status is not looked at: an error document is judged by its content.
    if (body)
        parse(*body);
    MainThread::post(
        [self = shared_from_this(), completion = std::move(completion), transportError] {
            self->deliverCredentialsResult(completion, transportError);
        });
}

void RedshiftCredentialsRequest::deliverCredentialsResult(
    const Completion &completion, const std::optional<TransportError> &transportError) const
{
    const auto entry = [this](const QString &name) -> std::optional<QString> {
        const auto found = elementContents.constFind(name);
        if (found == elementContents.cend())
            return std::nullopt;
        return *found;
    };

    // A credential whose element never closed was cut off by a malformed reply: what was
    // gathered is not the whole value, and opening a URL with it would only fail later.
    const auto credential = [this, &entry](const QString &name) -> std::optional<QString> {
        return openElements.contains(name) ? std::nullopt : entry(name);
    };

    CredentialsResult result;
    result.dbUser = credential(QStringLiteral("DbUser"));
    result.dbPassword = credential(QStringLiteral("DbPassword"));
    result.errorMessage = entry(QStringLiteral("Message"));
    if (!result.errorMessage)
        result.errorMessage = entry(QStringLiteral("Error"));
    result.transportError = transportError;
    completion(result);
}

void RedshiftCredentialsRequest::didStartElement(const QString &name)
{
    elementContents.insert(name, QString());
    openElements.insert(name);
}

void RedshiftCredentialsRequest::didEndElement(const QString &name)
{
    openElements.remove(name);
}

void RedshiftCredentialsRequest::foundCharacters(QStringView text)
{
    // Each open element gathers the text, so nesting multiplies what is kept: past the
    // budget the reply counts as malformed rather than filling memory for minutes.
    const qsizetype gathering = text.size() * openElements.size();
    if (gathering > maxGatheredCharacters - gatheredCharacters) {
        gatheredTextLimitReached = true;
        return;
    }
    gatheredCharacters += gathering;
    for (const QString &name : std::as_const(openElements))
        elementContents[name].append(text);
}

void RedshiftCredentialsRequest::didEndDocument()
{
    openElements.clear();
}

void RedshiftCredentialsRequest::parse(const QByteArray &body)
{
    QXmlStreamReader reader(body);
    // Keys are names as written, prefix included.
    reader.setNamespaceProcessing(false);
    // Internal entities may expand to no more than this many characters in all, so a
    // "billion laughs" body stops early instead of filling memory.
    reader.setEntityExpansionLimit(4096);
    while (!reader.atEnd() && !gatheredTextLimitReached) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            didStartElement(reader.qualifiedName().toString());
            break;
        case QXmlStreamReader::EndElement:
            didEndElement(reader.qualifiedName().toString());
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isCDATA())
                foundCharacters(reader.text());
            break;
        case QXmlStreamReader::EndDocument:
            didEndDocument();
            break;
        default:
            break;
        }
    }
}
