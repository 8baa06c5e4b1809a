#pragma once

#include "TransportError.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>

#include <functional>
#include <optional>

class URLSessionTask;
class URLSessionWorker;

// The status line and header fields of an HTTP reply.
struct HTTPURLResponse {
    int statusCode = 0;
    QList<QPair<QByteArray, QByteArray>> headerFields;
};

struct URLSessionConfiguration {
    // Trusted in addition to the system's certificate authorities.
    QList<QSslCertificate> additionalCACertificates;
    qint64 maximumBodySize = 1024 * 1024;
};

// A session for one data task. Its work runs off the GUI thread, on the session thread: one
// worker thread, shared by all sessions, that owns the network access manager. (A thread and
// a manager of its own for each request cost more than the loopback exchange itself.)
// Redirects are never followed (a redirect reply is the final reply), TLS peers are always
// verified, proxies come from the system configuration, and a reply body over the size
// limit is not read to the end.
//
// Made on the main thread; the session deletes itself (and its task) once the task has
// completed. When the application quits, running tasks are cancelled and the session thread
// is joined.
class URLSession : public QObject {
    Q_OBJECT
public:
    using Configuration = URLSessionConfiguration;

    // Runs once, on the session thread. A transport error comes without body and
    // response: the exchange ended without an HTTP reply, or broke off during one. An HTTP
    // error status is a response like any other.
    using Completion = std::function<void(std::optional<QByteArray> body,
        std::optional<HTTPURLResponse> response,
        std::optional<TransportError> transportError)>;

    explicit URLSession(Configuration configuration = {});
    ~URLSession() override;

    // The session's one task; call it once. Nothing is sent before the task's resume().
    URLSessionTask *dataTask(const URLRequest &request, Completion completion);

private:
    friend class URLSessionTask;

    void resumeTask();
    void cancelTask();

    Configuration m_configuration;
    URLSessionWorker *m_worker = nullptr;
    QPointer<URLSessionTask> m_task;
    bool m_done = false;
};
