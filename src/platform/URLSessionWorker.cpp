#include "URLSessionWorker.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

URLSessionWorker::~URLSessionWorker()
{
    // The replies go with the manager, a child; nothing they emit on the way reaches here.
    for (const auto &[id, exchange] : m_exchanges) {
        if (exchange.reply)
            exchange.reply->disconnect(this);
    }
}

void URLSessionWorker::add(quint64 id,
    URLRequest request,
    URLSession::Completion completion,
    URLSession::Configuration configuration)
{
    m_exchanges.emplace(
        id, Exchange { std::move(request), std::move(completion), std::move(configuration) });
}

QNetworkRequest URLSessionWorker::networkRequest(const Exchange &exchange)
{
    QNetworkRequest request(exchange.request.url);
    request.setTransferTimeout(int(exchange.request.timeout.count()));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // The fields go out exactly as they were signed, Host included.
    for (const auto &[name, value] : exchange.request.headerFields())
        request.setRawHeader(name.toUtf8(), value.toUtf8());

    const QList<QSslCertificate> &additional = exchange.configuration.additionalCACertificates;
    if (!additional.isEmpty() && exchange.request.url.scheme() == u"https") {
        // Setting CA certificates turns off the on-demand loading of the system's roots, so
        // they are listed beside the additional ones. Reading them takes tens of
        // milliseconds, so it happens once per session.
        if (!m_systemAuthorities)
            m_systemAuthorities = QSslConfiguration::systemCaCertificates();
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(*m_systemAuthorities + additional);
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }
    return request;
}

void URLSessionWorker::resume(quint64 id)
{
    const auto found = m_exchanges.find(id);
    if (found == m_exchanges.end() || found->second.reply)
        return;
    if (!m_manager) {
        if (!QNetworkProxyFactory::usesSystemConfiguration())
            QNetworkProxyFactory::setUseSystemConfiguration(true);
        m_manager = new QNetworkAccessManager(this);
        m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    const URLRequest &sent = found->second.request;
    const QNetworkRequest request = networkRequest(found->second);
    const QByteArray verb = sent.method.toUtf8();
    // A custom verb keeps Qt from adding a Content-Type of its own to a POST; passing data,
    // even empty, makes it send Content-Length.
    QNetworkReply *reply = sent.body || verb == "POST" || verb == "PUT"
        ? m_manager->sendCustomRequest(request, verb, sent.body.value_or(QByteArray()))
        : m_manager->sendCustomRequest(request, verb);
    found->second.reply = reply;
    // Connections end with the exchange, so the exchange is always found.
    connect(reply, &QNetworkReply::metaDataChanged, this,
        [this, id] { checkDeclaredLength(m_exchanges.find(id)); });
    connect(reply, &QNetworkReply::readyRead, this, [this, id] { readBody(m_exchanges.find(id)); });
    connect(reply, &QNetworkReply::finished, this, [this, id] { finish(m_exchanges.find(id)); });
}

void URLSessionWorker::cancel(quint64 id)
{
    const auto found = m_exchanges.find(id);
    if (found != m_exchanges.end())
        fail(found, TransportError::Kind::Cancelled, QStringLiteral("The request was cancelled."));
}

void URLSessionWorker::checkDeclaredLength(Exchanges::iterator exchange)
{
    bool known = false;
    const qint64 declared
        = exchange->second.reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && declared > exchange->second.configuration.maximumBodySize)
        failTooLarge(exchange);
}

bool URLSessionWorker::readBody(Exchanges::iterator exchange)
{
    // Read as it arrives, so that the limit also holds for bodies that are decompressed or
    // come without a length.
    // A reply that Qt aborted (a time-out) can no longer be read.
    QNetworkReply *reply = exchange->second.reply;
    QByteArray &body = exchange->second.body;
    if (reply->isReadable())
        body += reply->readAll();
    if (body.size() <= exchange->second.configuration.maximumBodySize)
        return true;
    failTooLarge(exchange);
    return false;
}

void URLSessionWorker::finish(Exchanges::iterator exchange)
{
    if (!readBody(exchange))
        return;
    QNetworkReply *reply = exchange->second.reply;
    const QNetworkReply::NetworkError error = reply->error();
    // Qt ends a transfer timeout by aborting the reply.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        fail(exchange, TransportError::Kind::TimedOut, QStringLiteral("The request timed out."));
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Errors below the content range come from the connection, TLS or a proxy, not from the
    // server's reply: a body broken off by them is not handed on.
    if (!status.isValid()
        || (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)) {
        fail(exchange, TransportError::Kind::Network, reply->errorString());
        return;
    }
    complete(exchange, exchange->second.body,
        HTTPURLResponse { status.toInt(), reply->rawHeaderPairs() }, std::nullopt);
}

void URLSessionWorker::failTooLarge(Exchanges::iterator exchange)
{
    fail(exchange, TransportError::Kind::ReplyTooLarge,
        QStringLiteral("The reply was too large (over %1 bytes); the transfer was stopped.")
            .arg(exchange->second.configuration.maximumBodySize));
}

void URLSessionWorker::fail(
    Exchanges::iterator exchange, TransportError::Kind kind, const QString &description)
{
    complete(exchange, std::nullopt, std::nullopt, TransportError { kind, description });
}

void URLSessionWorker::complete(Exchanges::iterator found,
    std::optional<QByteArray> body,
    std::optional<HTTPURLResponse> response,
    std::optional<TransportError> transportError)
{
    const quint64 id = found->first;
    const Exchange exchange = std::move(found->second);
    m_exchanges.erase(found);
    if (exchange.reply) {
        // Deleting a reply that is still running aborts its transfer, without the error
        // signals that abort() would add to those already queued.
        exchange.reply->disconnect(this);
        exchange.reply->deleteLater();
    }
    exchange.completion(std::move(body), std::move(response), std::move(transportError));
    Q_EMIT ended(id);
}
