#pragma once

#include "TransportError.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslCertificate>
#include <QThread>

#include <functional>
#include <optional>

class URLSessionTask;
class URLSessionWorker;

// The status line and header fields of an HTTP reply.
struct HTTPURLResponse {
    int statusCode = 0;
    QList<QPair<QByteArray, QByteArray>> headerFields;
};

// The settings of one data task.
struct URLSessionConfiguration {
    // Trusted in addition to the system's certificate authorities, for https only.
    QList<QSslCertificate> additionalCACertificates;
    qint64 maximumBodySize = 1024 * 1024;
};

// Runs HTTP exchanges off the main thread, on a thread of its own that owns the network
// access manager, so one session serves every call of a connection. Redirects are never
// followed (a redirect reply is the final reply), no cookie passes between exchanges, TLS
// peers are always verified, proxies come from the system configuration, and a body over
// the size limit is not read to the end. Made and used on the main thread.
class URLSession : public QObject {
    Q_OBJECT
public:
    using Configuration = URLSessionConfiguration;

    // Runs once, on the session's thread. A transport error comes without body and
    // response: the exchange ended without an HTTP reply, or broke off during one. An HTTP
    // error status is a response like any other.
    using Completion = std::function<void(std::optional<QByteArray> body,
        std::optional<HTTPURLResponse> response,
        std::optional<TransportError> transportError)>;

    explicit URLSession(QObject *parent = nullptr);
    // Running exchanges are aborted and their completions never run; the thread is joined.
    ~URLSession() override;

    // A new task, not yet resumed. The handle belongs to the session and is deleted after
    // the completion has run.
    URLSessionTask *dataTask(
        const URLRequest &request, Completion completion, Configuration configuration = {});

private:
    QThread m_thread;
    // Made with the first task; deleted on its thread when the thread finishes.
    URLSessionWorker *m_worker = nullptr;
    quint64 m_lastTaskID = 0;
};
