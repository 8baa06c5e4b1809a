#include "URLSession.h"

#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QThread>

#include <mutex>

// Lives on the session's thread and does all the network work there.
class URLSession::Worker : public QObject {
public:
    Worker(URLRequest request, Completion completion, Configuration configuration)
        : m_request(std::move(request)),
          m_completion(std::move(completion)),
          m_configuration(std::move(configuration))
    {
    }

    void start();
    void cancel();

private:
    QNetworkRequest networkRequest() const;
    void readBody();
    void checkDeclaredLength();
    void finish();
    void complete(std::optional<QByteArray> body, std::optional<HTTPURLResponse> response,
                  std::optional<TransportError> transportError);

    URLRequest m_request;
    Completion m_completion;
    Configuration m_configuration;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    QByteArray m_body;
    bool m_cancelRequested = false;
    bool m_tooLarge = false;
    bool m_completed = false;
};

QNetworkRequest URLSession::Worker::networkRequest() const
{
    QNetworkRequest request(m_request.url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(m_request.timeout.count()));
    // The fields go out exactly as they were signed, Host included.
    for (const auto &[name, value] : m_request.headerFields())
        request.setRawHeader(name.toUtf8(), value.toUtf8());

    if (!m_configuration.additionalCACertificates.isEmpty()
        && m_request.url.scheme().compare(u"https", Qt::CaseInsensitive) == 0) {
        // Setting CA certificates turns off the on-demand loading of the system's roots, so
        // they are listed explicitly beside the additional ones. Reading them costs tens of
        // milliseconds, so it happens once per process.
        static const QList<QSslCertificate> systemAuthorities =
                QSslConfiguration::systemCaCertificates();
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> authorities = systemAuthorities;
        authorities += m_configuration.additionalCACertificates;
        tls.setCaCertificates(authorities);
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }
    return request;
}

void URLSession::Worker::start()
{
    if (m_completed)
        return;
    m_manager = new QNetworkAccessManager(this);
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);

    const QNetworkRequest request = networkRequest();
    const QByteArray verb = m_request.method.toUtf8();
    // A custom verb keeps Qt from adding a Content-Type of its own to a POST; passing data,
    // even empty, makes it send Content-Length.
    if (m_request.body || verb == "POST" || verb == "PUT")
        m_reply = m_manager->sendCustomRequest(request, verb, m_request.body.value_or(QByteArray()));
    else
        m_reply = m_manager->sendCustomRequest(request, verb);

    connect(m_reply, &QNetworkReply::metaDataChanged, this, &Worker::checkDeclaredLength);
    connect(m_reply, &QNetworkReply::readyRead, this, &Worker::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &Worker::finish);
}

void URLSession::Worker::cancel()
{
    m_cancelRequested = true;
    if (m_completed)
        return;
    if (m_reply)
        m_reply->abort(); // finishes the reply, and with it the task, right here
    else
        complete(std::nullopt, std::nullopt,
                 TransportError { TransportError::Kind::Cancelled,
                                  QStringLiteral("The request was cancelled.") });
}

void URLSession::Worker::checkDeclaredLength()
{
    bool known = false;
    const qint64 declared = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && declared > m_configuration.maximumBodySize && !m_tooLarge) {
        m_tooLarge = true;
        m_reply->abort();
    }
}

void URLSession::Worker::readBody()
{
    if (m_tooLarge || m_completed || !m_reply->isReadable())
        return;
    // Read as it arrives, so that the limit also holds for bodies that are decompressed or
    // come without a length.
    m_body += m_reply->readAll();
    if (m_body.size() > m_configuration.maximumBodySize) {
        m_tooLarge = true;
        m_body.clear();
        m_reply->abort();
    }
}

void URLSession::Worker::finish()
{
    if (m_completed)
        return;
    if (!m_tooLarge && !m_cancelRequested)
        readBody();

    using Kind = TransportError::Kind;
    if (m_tooLarge) {
        complete(std::nullopt, std::nullopt,
                 TransportError { Kind::ReplyTooLarge,
                                  QStringLiteral("The reply was too large (over %1 bytes); "
                                                 "the transfer was stopped.")
                                          .arg(m_configuration.maximumBodySize) });
        return;
    }
    if (m_cancelRequested) {
        complete(std::nullopt, std::nullopt,
                 TransportError { Kind::Cancelled, QStringLiteral("The request was cancelled.") });
        return;
    }
    const QNetworkReply::NetworkError error = m_reply->error();
    // Qt ends a transfer timeout by aborting the reply.
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        complete(std::nullopt, std::nullopt,
                 TransportError { Kind::TimedOut, QStringLiteral("The request timed out.") });
        return;
    }
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Errors below the content range come from the connection, TLS or a proxy, not from the
    // server's reply: a body broken off by them is not handed on.
    const bool brokenConnection = error != QNetworkReply::NoError
            && error < QNetworkReply::ContentAccessDenied;
    if (!status.isValid() || brokenConnection) {
        complete(std::nullopt, std::nullopt, TransportError { Kind::Network, m_reply->errorString() });
        return;
    }
    complete(m_body, HTTPURLResponse { status.toInt(), m_reply->rawHeaderPairs() }, std::nullopt);
}

void URLSession::Worker::complete(std::optional<QByteArray> body,
                                  std::optional<HTTPURLResponse> response,
                                  std::optional<TransportError> transportError)
{
    m_completed = true;
    Completion completion = std::move(m_completion);
    m_completion = nullptr;
    if (completion)
        completion(std::move(body), std::move(response), std::move(transportError));

    // Tear down outside the reply's signal emission, then let the thread end; the session
    // deletes itself when it has.
    QMetaObject::invokeMethod(
            this,
            [this] {
                delete m_manager;
                m_manager = nullptr;
                m_reply = nullptr;
                thread()->quit();
            },
            Qt::QueuedConnection);
}

URLSession::URLSession(Configuration configuration)
    : QObject(QCoreApplication::instance()),
      m_configuration(std::move(configuration)),
      m_thread(new QThread(this))
{
    static std::once_flag systemProxies;
    std::call_once(systemProxies, [] { QNetworkProxyFactory::setUseSystemConfiguration(true); });

    m_thread->setObjectName(QStringLiteral("URLSession"));
    m_thread->setStackSize(256 * 1024);
    connect(m_thread, &QThread::finished, this, &QObject::deleteLater);
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &URLSession::shutDown);
}

URLSession::~URLSession()
{
    shutDown();
    delete m_task;
    delete m_worker;
}

URLSessionTask *URLSession::dataTask(const URLRequest &request, Completion completion)
{
    Q_ASSERT_X(!m_worker, "URLSession::dataTask", "a session runs one task");
    if (m_worker)
        return nullptr;
    m_worker = new Worker(request, std::move(completion), m_configuration);
    m_worker->moveToThread(m_thread);
    m_task = new URLSessionTask(this);
    return m_task;
}

void URLSession::resumeTask()
{
    if (!m_threadStarted) {
        m_threadStarted = true;
        m_thread->start();
    }
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->start(); },
                              Qt::QueuedConnection);
}

void URLSession::cancelTask()
{
    // Started even for a task that was never resumed, so that it completes as cancelled.
    if (!m_threadStarted) {
        m_threadStarted = true;
        m_thread->start();
    }
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->cancel(); },
                              Qt::QueuedConnection);
}

void URLSession::shutDown()
{
    if (!m_threadStarted)
        return;
    if (m_task)
        m_task->cancel();
    else
        cancelTask();
    m_thread->wait();
}
