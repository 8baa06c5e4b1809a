#include "TestHttpServer.h"

#include <QFile>
#include <QSslKey>
#include <QSslServer>

using namespace Qt::StringLiterals;

std::optional<QByteArray> RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

namespace {

// Complete once the header block and Content-Length bytes of body are in.
std::optional<RecordedRequest> parsedRequest(const QByteArray &received)
{
    const qsizetype headerEnd = received.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = received.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    RecordedRequest request { requestLine.value(0), requestLine.value(1), {},
        received.mid(headerEnd + 4) };
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        request.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    if (request.body.size() < request.header("Content-Length").value_or("0").toLongLong())
        return std::nullopt;
    return request;
}

QByteArray replyHead(const CannedReply &reply)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
    for (const auto &[name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    if (const qint64 length = reply.declaredLength.value_or(reply.body.size()); length >= 0)
        out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    return out + "Connection: close\r\n\r\n";
}

} // namespace

TestHttpServer::TestHttpServer(Mode mode, QObject *parent)
    : QObject(parent)
    , m_tls(mode == Mode::Tls)
{
    if (m_tls) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(QSslCertificate::fromPath(caBundlePath()));
        QFile key(QStringLiteral(IAMLINK_TEST_SUPPORT_DIR "/localhost-key.pem"));
        if (key.open(QIODevice::ReadOnly))
            tls.setPrivateKey(QSslKey(&key, QSsl::Ec));
        auto *server = new QSslServer(this);
        server->setSslConfiguration(tls);
        m_server = server;
    } else {
        m_server = new QTcpServer(this);
    }
    // For TLS, a connection becomes pending only once its handshake is done.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
    if (!m_server->listen(QHostAddress::LocalHost))
        qWarning("TestHttpServer: cannot listen: %s", qPrintable(m_server->errorString()));
}

void TestHttpServer::serve(QTcpSocket *socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(
        socket, &QTcpSocket::readyRead, this, [this, socket, received = QByteArray()]() mutable {
            received += socket->readAll();
            const std::optional<RecordedRequest> request = parsedRequest(received);
            if (!request)
                return;
            socket->disconnect(this); // one request per connection
            m_requests.append(*request);
            const CannedReply reply = m_reply;
            Q_EMIT requestReceived();
            if (reply.neverAnswer)
                return;
            if (reply.streamForever) {
                socket->write(replyHead({ reply.status, reply.headers, {}, false, -1 }));
                const auto more = [socket] {
                    if (socket->bytesToWrite() < 65536)
                        socket->write(QByteArray(65536, 'x'));
                };
                connect(socket, &QTcpSocket::bytesWritten, socket, more);
                more();
                return;
            }
            socket->write(replyHead(reply) + reply.body);
            socket->disconnectFromHost();
        });
    if (socket->bytesAvailable() > 0)
        Q_EMIT socket->readyRead();
}

QUrl TestHttpServer::url() const
{
    return QUrl(
        (m_tls ? u"https://localhost:%1"_s : u"http://127.0.0.1:%1"_s).arg(m_server->serverPort()));
}

QString TestHttpServer::caBundlePath()
{
    return QStringLiteral(IAMLINK_TEST_SUPPORT_DIR "/localhost.pem");
}
