#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <optional>

class QTcpServer;
class QTcpSocket;

// One HTTP request as it reached the test server.
struct RecordedRequest {
    QByteArray method;
    QByteArray target; // path and query exactly as sent, e.g. "/?DbUser=alice&Action=..."
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The value of the header named `name` (any case); absent when not sent.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// What the server answers. `neverAnswer` keeps the connection open without replying.
struct CannedReply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers; // Content-Length is added by the server
    QByteArray body;
    bool neverAnswer = false;
    // Content-Length to declare instead of the body's size (a larger one makes the server
    // close the connection mid-body); -1 sends no Content-Length, so the body ends at close.
    std::optional<qint64> declaredLength = std::nullopt;
    // Sends the status line and headers, then body bytes without end until the client hangs up.
    bool streamForever = false;
};

// A loopback HTTP or HTTPS server for tests: listens on 127.0.0.1, records every request
// and answers each with the current canned reply, then closes the connection. Runs on the
// thread that creates it, so wait with QTRY_* / QSignalSpy (never a blocking wait).
class TestHttpServer : public QObject {
    Q_OBJECT
public:
    enum class Mode { Plain, Tls };

    explicit TestHttpServer(Mode mode = Mode::Plain, QObject *parent = nullptr);

    // http://127.0.0.1:PORT, or https://localhost:PORT for TLS (the certificate names localhost).
    QUrl url() const;
    // A PEM file holding the certificate that the server presents over TLS.
    static QString caBundlePath();

    void setReply(const CannedReply &reply) { m_reply = reply; }
    QList<RecordedRequest> requests() const { return m_requests; }

Q_SIGNALS:
    void requestReceived();

private:
    void serve(QTcpSocket *socket);

    bool m_tls;
    QTcpServer *m_server; // a child
    CannedReply m_reply;
    QList<RecordedRequest> m_requests;
};
