#include "HttpClient.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

namespace {

constexpr qint64 maxBundleSize = 16 * 1024 * 1024;

TransportError configurationError(QString description)
{
    return { TransportError::Kind::Configuration, std::move(description) };
}

std::variant<QList<QSslCertificate>, TransportError> loadAuthorities(const QString &path)
{
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
    const QList<QSslCertificate> bundle = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (bundle.isEmpty())
        return configurationError(
            QStringLiteral("AWS_CA_BUNDLE holds no PEM certificate: %1").arg(path));
    // Setting CA certificates turns off the on-demand loading of the system's roots, so they
    // are listed beside the bundle's.
    return QSslConfiguration::systemCaCertificates() + bundle;
}

// One exchange in flight: ends exactly once, by the reply, the deadline, the size limit or a
// cancel, then hands its ending to the completion and goes.
class Exchange : public Cancellable {
public:
    Exchange(HttpCompletion completion, qint64 maximumBodySize, QObject *parent)
        : Cancellable(parent)
        , m_completion(std::move(completion))
        , m_maximumBodySize(maximumBodySize)
    {
    }

    void start(QNetworkReply *reply, std::chrono::milliseconds deadline)
    {
        m_reply = reply;
        connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
            bool known = false;
            if (m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known)
                    > m_maximumBodySize
                && known)
                failTooLarge();
        });
        connect(reply, &QNetworkReply::readyRead, this, &Exchange::readBody);
        connect(reply, &QNetworkReply::finished, this, &Exchange::finish);
        // From sending to the last byte: a transfer timeout would restart with every byte.
        QTimer::singleShot(deadline, this, [this, deadline] {
            fail(TransportError::Kind::TimedOut,
                QStringLiteral("The request timed out: no whole reply within %1 s.")
                    .arg(double(deadline.count()) / 1000));
        });
    }

    void fail(TransportError::Kind kind, const QString &description)
    {
        end({ .transportError = TransportError { kind, description } });
    }

    void cancel() override
    {
        fail(TransportError::Kind::Cancelled, QStringLiteral("The request was cancelled."));
    }

private:
    // Read as it arrives, so that the limit also holds for bodies that are decompressed or
    // come without a length. False once the limit ended the exchange.
    bool readBody()
    {
        if (m_reply->isReadable())
            m_body += m_reply->readAll();
        if (m_body.size() > m_maximumBodySize)
            failTooLarge();
        return m_body.size() <= m_maximumBodySize;
    }

    void finish()
    {
        if (!readBody())
            return;
        const QNetworkReply::NetworkError error = m_reply->error();
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // Errors below the content range come from the connection, TLS or a proxy: a body
        // broken off by them is not handed on. A proxy's refusal still has a status to name.
        if (!status.isValid()
            || (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied
                && error != QNetworkReply::ProxyAuthenticationRequiredError))
            return fail(TransportError::Kind::Network, m_reply->errorString());
        HttpReply reply { status.toInt(), m_reply->rawHeaderPairs(), m_body };
        if (reply.statusCode < 200 || reply.statusCode > 299)
            reply.transportError = HttpClient::statusError(reply.statusCode,
                m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
        end(reply);
    }

    void failTooLarge()
    {
        fail(TransportError::Kind::ReplyTooLarge,
            QStringLiteral("The reply was too large (over %1 bytes); the transfer was stopped.")
                .arg(m_maximumBodySize));
    }

    void end(const HttpReply &reply)
    {
        HttpCompletion completion = std::exchange(m_completion, nullptr);
        if (!completion)
            return;
        if (m_reply) {
            // Deleting a reply that is still running aborts its transfer, without the error
            // signals that abort() would add.
            m_reply->disconnect(this);
            m_reply->deleteLater();
        }
        deleteLater();
        completion(reply);
    }

    HttpCompletion m_completion;
    qint64 m_maximumBodySize;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
};

} // namespace

HttpClient::HttpClient(QString caBundlePath, QObject *parent)
    : QObject(parent)
    , m_caBundlePath(std::move(caBundlePath))
{
}

HttpClient::~HttpClient()
{
    // The exchanges go before the manager and its replies, so that nothing a dying reply
    // emits reaches them; their completions never run.
    qDeleteAll(findChildren<Cancellable *>(Qt::FindDirectChildrenOnly));
}

TransportError HttpClient::statusError(int statusCode, const QByteArray &reasonPhrase)
{
    QString text = QStringLiteral("HTTP %1").arg(statusCode);
    if (!reasonPhrase.isEmpty())
        text += u' ' + QString::fromLatin1(reasonPhrase);
    if (statusCode >= 300 && statusCode <= 399)
        text += QStringLiteral(" (a redirect, which iamlink does not follow)");
    return { TransportError::Kind::HttpStatus, text };
}

HttpSend HttpClient::sender()
{
    return [client = QPointer(this)](const URLRequest &request, HttpCompletion completion) {
        return client ? client->send(request, std::move(completion)) : nullptr;
    };
}

QPointer<Cancellable> HttpClient::send(const URLRequest &request, HttpCompletion completion)
{
    auto *exchange = new Exchange(std::move(completion), maximumBodySize, this);
    QNetworkRequest sent(request.url);
    sent.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    sent.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // The fields go out exactly as they were signed, Host included.
    for (const auto &[name, value] : request.headerFields())
        sent.setRawHeader(name.toUtf8(), value.toUtf8());

    if (!m_caBundlePath.isEmpty() && request.url.scheme() == u"https") {
        if (!m_authorities)
            m_authorities = loadAuthorities(m_caBundlePath);
        if (const auto *error = std::get_if<TransportError>(&*m_authorities)) {
            // Nothing is sent: the failure comes later, like any other ending.
            QTimer::singleShot(0, exchange,
                [exchange, error = *error] { exchange->fail(error.kind, error.description); });
            return nullptr;
        }
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(std::get<QList<QSslCertificate>>(*m_authorities));
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        sent.setSslConfiguration(tls);
    }

    if (!m_manager) {
        if (!QNetworkProxyFactory::usesSystemConfiguration())
            QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_manager = new QNetworkAccessManager(this);
        m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    const QByteArray verb = request.method.toUtf8();
    // A custom verb keeps Qt from adding a Content-Type of its own to a POST; passing data,
    // even empty, makes it send Content-Length.
    QNetworkReply *reply = request.body || verb == "POST" || verb == "PUT"
        ? m_manager->sendCustomRequest(sent, verb, request.body.value_or(QByteArray()))
        : m_manager->sendCustomRequest(sent, verb);
    exchange->start(reply, deadline);
    return exchange;
}
