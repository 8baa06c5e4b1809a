#pragma once

#include <QTcpServer>
#include <QUrl>

#include <memory>
#include <optional>

// One HTTP request as it reached the test server.
struct RecordedRequest {
    QByteArray method;
    QByteArray target; // path and query exactly as sent, e.g. "/?DbUser=alice&Action=..."
    QByteArray head; // the request line and the header lines
    QByteArray body;
    // The value of the header named `name` (any case); absent when not sent.
    std::optional<QByteArray> header(const QByteArray &name) const;
};

// What the server answers. The body ends where the server closes the connection, unless the
// headers declare a Content-Length (a larger one closes the connection mid-body).
struct CannedReply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers = {};
    QByteArray body = {};
    bool neverAnswer = false; // keeps the connection open without replying
    bool streamForever = false; // body bytes without end until the client hangs up
    int dripMs = 0; // when set, the body one byte at a time, this many ms apart
};

// A loopback HTTP or HTTPS server for tests: listens on 127.0.0.1, records every request and
// answers each with the current canned reply, one request per connection. Runs on the thread
// that creates it, so wait with QTRY_* (never a blocking wait).
class TestHttpServer {
public:
    explicit TestHttpServer(bool tls = false);

    // http://127.0.0.1:PORT, or https:// with tls.
    QUrl url() const { return m_url; }
    // A PEM file holding the certificate the server presents over TLS (for 127.0.0.1).
    static constexpr char caBundlePath[] = IAMLINK_TEST_SUPPORT_DIR "/localhost.pem";

    void setReply(const CannedReply &reply) { m_replies = { reply }; }
    // One reply a request, in order; the last answers every request after it.
    void setReplies(const QList<CannedReply> &replies) { m_replies = replies; }
    QList<RecordedRequest> requests() const { return m_requests; }

private:
    void serve(QTcpSocket *socket);

    std::unique_ptr<QTcpServer> m_server;
    QUrl m_url;
    QList<CannedReply> m_replies { CannedReply() };
    QList<RecordedRequest> m_requests;
};
