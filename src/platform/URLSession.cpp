#include "URLSession.h"

#include "URLSessionTask.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSet>
#include <QSslConfiguration>
#include <QThread>

#include <mutex>

// One session's exchange. Lives on the session thread and does all its network work there.
class URLSessionWorker : public QObject {
    Q_OBJECT
public:
    URLSessionWorker(URLRequest request,
        URLSession::Completion completion,
        URLSession::Configuration configuration)
        : m_request(std::move(request))
        , m_completion(std::move(completion))
        , m_configuration(std::move(configuration))
    {
    }
    ~URLSessionWorker() override;

    void start();
    void cancel();

Q_SIGNALS:
    // The completion has run; the session may go.
    void done();

private:
    QNetworkRequest networkRequest() const;
    void readBody();
    void checkDeclaredLength();
    void finish();
    void complete(std::optional<QByteArray> body,
        std::optional<HTTPURLResponse> response,
        std::optional<TransportError> transportError);

    URLRequest m_request;
    URLSession::Completion m_completion;
    URLSession::Configuration m_configuration;
    QNetworkReply *m_reply = nullptr;
    QByteArray m_body;
    bool m_cancelRequested = false;
    bool m_tooLarge = false;
    bool m_completed = false;
};

namespace {

// Touched on the session thread only: its network access manager and the exchanges under way.
QNetworkAccessManager *sharedManager = nullptr;
QSet<URLSessionWorker *> runningWorkers;

QNetworkAccessManager *manager()
{
    if (!sharedManager) {
        sharedManager = new QNetworkAccessManager();
        sharedManager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return sharedManager;
}

// The session thread, started on first use and stopped (its exchanges cancelled) when the
// application quits or is destroyed. Lives on the main thread.
class SessionThread : public QObject {
public:
    static SessionThread &instance()
    {
        if (!current)
            current = new SessionThread();
        return *current;
    }

    // Absent once the application object has deleted it.
    static SessionThread *existing() { return current; }

    QThread *thread() { return &m_thread; }

    void ensureRunning()
    {
        if (!m_thread.isRunning())
            m_thread.start();
    }

    bool isRunning() const { return m_thread.isRunning(); }

    void stop()
    {
        if (!m_thread.isRunning())
            return;
        m_thread.quit();
        m_thread.wait();
    }

    ~SessionThread() override { stop(); }

private:
    SessionThread()
        : QObject(QCoreApplication::instance())
    {
        static std::once_flag systemProxies;
        std::call_once(
            systemProxies, [] { QNetworkProxyFactory::setUseSystemConfiguration(true); });
        m_thread.setObjectName(QStringLiteral("URLSession"));
        // Runs on the session thread once its event loop has ended, which works even while
        // the application object is being destroyed and posts are no longer delivered.
        connect(
            &m_thread, &QThread::finished, &m_thread,
            [] {
                const QSet<URLSessionWorker *> running = runningWorkers;
                for (URLSessionWorker *worker : running)
                    worker->cancel();
                delete sharedManager;
                sharedManager = nullptr;
            },
            Qt::DirectConnection);
        if (QCoreApplication *application = QCoreApplication::instance())
            connect(application, &QCoreApplication::aboutToQuit, this, &SessionThread::stop);
        // Before the application object starts to go, while the network stack can still
        // reach it.
        static std::once_flag postRoutine;
        std::call_once(postRoutine, [] {
            qAddPostRoutine([] {
                if (current)
                    current->stop();
            });
        });
    }

    static inline QPointer<SessionThread> current;
    QThread m_thread;
};

} // namespace

URLSessionWorker::~URLSessionWorker()
{
    runningWorkers.remove(this);
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QNetworkRequest URLSessionWorker::networkRequest() const
{
    QNetworkRequest request(m_request.url);
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(int(m_request.timeout.count()));
    // The manager is shared, but sessions are ephemeral: no cookie passes between them.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // The fields go out exactly as they were signed, Host included.
    for (const auto &[name, value] : m_request.headerFields())
        request.setRawHeader(name.toUtf8(), value.toUtf8());

    if (!m_configuration.additionalCACertificates.isEmpty()
        && m_request.url.scheme().compare(u"https", Qt::CaseInsensitive) == 0) {
        // Setting CA certificates turns off the on-demand loading of the system's roots, so
        // they are listed explicitly beside the additional ones. Reading them costs tens of
        // milliseconds, so it happens once per process.
        static const QList<QSslCertificate> systemAuthorities
            = QSslConfiguration::systemCaCertificates();
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> authorities = systemAuthorities;
        authorities += m_configuration.additionalCACertificates;
        tls.setCaCertificates(authorities);
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        request.setSslConfiguration(tls);
    }
    return request;
}

void URLSessionWorker::start()
{
    if (m_completed)
        return;
    runningWorkers.insert(this);

    const QNetworkRequest request = networkRequest();
    const QByteArray verb = m_request.method.toUtf8();
    // A custom verb keeps Qt from adding a Content-Type of its own to a POST; passing data,
    // even empty, makes it send Content-Length.
    if (m_request.body || verb == "POST" || verb == "PUT")
        m_reply
            = manager()->sendCustomRequest(request, verb, m_request.body.value_or(QByteArray()));
    else
        m_reply = manager()->sendCustomRequest(request, verb);

    connect(m_reply, &QNetworkReply::metaDataChanged, this, &URLSessionWorker::checkDeclaredLength);
    connect(m_reply, &QNetworkReply::readyRead, this, &URLSessionWorker::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &URLSessionWorker::finish);
}

void URLSessionWorker::cancel()
{
    m_cancelRequested = true;
    if (m_completed)
        return;
    if (m_reply)
        m_reply->abort(); // finishes the reply, and with it the task, right here
    else
        complete(std::nullopt, std::nullopt,
            TransportError {
                TransportError::Kind::Cancelled, QStringLiteral("The request was cancelled.") });
}

void URLSessionWorker::checkDeclaredLength()
{
    bool known = false;
    const qint64 declared
        = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && declared > m_configuration.maximumBodySize && !m_tooLarge) {
        m_tooLarge = true;
        m_reply->abort();
    }
}

void URLSessionWorker::readBody()
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

void URLSessionWorker::finish()
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
    const bool brokenConnection
        = error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
    if (!status.isValid() || brokenConnection) {
        complete(
            std::nullopt, std::nullopt, TransportError { Kind::Network, m_reply->errorString() });
        return;
    }
    complete(m_body, HTTPURLResponse { status.toInt(), m_reply->rawHeaderPairs() }, std::nullopt);
}

void URLSessionWorker::complete(std::optional<QByteArray> body,
    std::optional<HTTPURLResponse> response,
    std::optional<TransportError> transportError)
{
    m_completed = true;
    runningWorkers.remove(this);
    URLSession::Completion completion = std::move(m_completion);
    m_completion = nullptr;
    if (completion)
        completion(std::move(body), std::move(response), std::move(transportError));
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    Q_EMIT done();
}

URLSession::URLSession(Configuration configuration)
    : QObject(QCoreApplication::instance())
    , m_configuration(std::move(configuration))
{
}

URLSession::~URLSession()
{
    delete m_task;
    if (!m_worker)
        return;
    SessionThread *sessionThread = SessionThread::existing();
    if (!sessionThread || !sessionThread->isRunning()) {
        delete m_worker;
        return;
    }
    if (!m_done) {
        // Deleted while its task runs: end the exchange before the completion's captures go.
        QMetaObject::invokeMethod(
            m_worker, [worker = m_worker] { worker->cancel(); }, Qt::BlockingQueuedConnection);
    }
    m_worker->deleteLater();
}

URLSessionTask *URLSession::dataTask(const URLRequest &request, Completion completion)
{
    Q_ASSERT_X(!m_worker, "URLSession::dataTask", "a session runs one task");
    if (m_worker)
        return nullptr;
    m_worker = new URLSessionWorker(request, std::move(completion), m_configuration);
    m_worker->moveToThread(SessionThread::instance().thread());
    connect(m_worker, &URLSessionWorker::done, this, [this] {
        m_done = true;
        deleteLater();
    });
    m_task = new URLSessionTask(this);
    return m_task;
}

void URLSession::resumeTask()
{
    SessionThread::instance().ensureRunning();
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->start(); }, Qt::QueuedConnection);
}

void URLSession::cancelTask()
{
    // A task that was never resumed completes as cancelled all the same.
    SessionThread::instance().ensureRunning();
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker] { worker->cancel(); }, Qt::QueuedConnection);
}

#include "URLSession.moc"
