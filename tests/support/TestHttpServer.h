#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

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
    ~TestHttpServer() override;

    // http://127.0.0.1:PORT, or https://localhost:PORT for TLS (the certificate names localhost).
    QUrl url() const;
    // TLS only: a PEM file holding the certificate that the server presents.
    QString caBundlePath() const;

    void setReply(const CannedReply &reply);
    QList<RecordedRequest> requests() const;

Q_SIGNALS:
    void requestReceived();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
