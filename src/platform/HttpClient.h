#pragma once

#include "Cancellable.h"
#include "TransportError.h"
#include "URLRequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSslCertificate>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <variant>

class QNetworkAccessManager;

// How one HTTP exchange ended. A reply with a status outside 2xx carries its body and a
// transport error of kind HttpStatus naming the status; without any HTTP reply there is no
// body, only the transport error.
struct HttpReply {
    int statusCode = 0; // 0 when no HTTP reply came
    QList<QPair<QByteArray, QByteArray>> headerFields = {};
    std::optional<QByteArray> body = {};
    std::optional<TransportError> transportError = {};
};

// Sends one request; the completion runs once, later, on the main thread. The returned
// handle cancels the exchange; it is null when nothing was sent.
using HttpCompletion = std::function<void(const HttpReply &)>;
using HttpSend = std::function<QPointer<Cancellable>(const URLRequest &, HttpCompletion)>;

// HTTP on QNetworkAccessManager, on the thread that makes it: redirects are never followed,
// no cookie passes between exchanges, TLS peers are verified against the system's authorities
// and the given bundle's, proxies come from the system configuration, a body over the size
// limit is not read to the end, and every exchange ends within the deadline, whatever the
// server drips. Destroying the client aborts what is running; those completions never run.
class HttpClient : public QObject {
    Q_OBJECT
public:
    // `caBundlePath`: PEM certificates trusted beside the system's for https, read at the
    // first https exchange; none when empty.
    explicit HttpClient(QString caBundlePath = {}, QObject *parent = nullptr);
    ~HttpClient() override;

    std::chrono::milliseconds deadline { std::chrono::seconds(60) };
    qint64 maximumBodySize = 1024 * 1024;

    QPointer<Cancellable> send(const URLRequest &request, HttpCompletion completion);
    // send() bound to this client.
    HttpSend sender();

    // What a status outside 2xx is reported as: "HTTP 503 Service Unavailable".
    static TransportError statusError(int statusCode, const QByteArray &reasonPhrase);

private:
    // The trust for https, loaded once: the system's authorities and the bundle's, or why the
    // bundle is unusable.
    std::optional<std::variant<QList<QSslCertificate>, TransportError>> m_authorities;
    QString m_caBundlePath;
    QNetworkAccessManager *m_manager = nullptr; // a child, made with the first exchange
};
