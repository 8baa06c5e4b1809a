#include "TestHttpServer.h"

#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QTimer>

std::optional<QByteArray> RecordedRequest::header(const QByteArray &name) const
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.first(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.sliced(colon + 1).trimmed();
    }
    return std::nullopt;
}

TestHttpServer::TestHttpServer(bool tls)
    : m_server(tls ? new QSslServer() : new QTcpServer())
{
    if (auto *server = qobject_cast<QSslServer *>(m_server.get())) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(
            QSslCertificate::fromPath(QString::fromUtf8(caBundlePath)));
        QFile key(QStringLiteral(IAMLINK_TEST_SUPPORT_DIR "/localhost-key.pem"));
        if (key.open(QIODevice::ReadOnly))
            configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
        server->setSslConfiguration(configuration);
    }
    // Over TLS, a connection becomes pending once its handshake is done.
    QObject::connect(
        m_server.get(), &QTcpServer::pendingConnectionAvailable, m_server.get(), [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                serve(socket);
        });
    m_server->listen(QHostAddress::LocalHost);
    m_url = QUrl(QStringLiteral("%1://127.0.0.1:%2")
                     .arg(tls ? u"https" : u"http")
                     .arg(m_server->serverPort()));
}

void TestHttpServer::serve(QTcpSocket *socket)
{
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    const auto read = [this, socket] {
        // Left unread until whole: the header block, then Content-Length bytes of body.
        const QByteArray received = socket->peek(socket->bytesAvailable());
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = received.first(headEnd);
        const RecordedRequest request { head.split(' ')[0], head.split(' ').value(1), head,
            received.sliced(headEnd + 4) };
        if (request.body.size() < request.header("Content-Length").value_or("0").toLongLong())
            return;
        QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        m_requests.append(request);
        const CannedReply canned
            = m_replies.size() > 1 ? m_replies.takeFirst() : m_replies.value(0);
        if (canned.neverAnswer)
            return;
        static const QHash<int, QByteArray> reasons { { 200, "OK" }, { 302, "Found" },
            { 401, "Unauthorized" }, { 403, "Forbidden" }, { 407, "Proxy Authentication Required" },
            { 500, "Internal Server Error" }, { 503, "Service Unavailable" } };
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(canned.status) + ' '
            + reasons.value(canned.status, "Canned") + "\r\n";
        for (const auto &[name, value] : std::as_const(canned.headers))
            reply += name + ": " + value + "\r\n";
        socket->write(reply + "Connection: close\r\n\r\n");
        if (canned.dripMs > 0) {
            auto *drip = new QTimer(socket);
            QObject::connect(
                drip, &QTimer::timeout, socket, [socket, body = canned.body, sent = 0]() mutable {
                    if (sent < body.size())
                        socket->write(body.mid(sent++, 1));
                });
            drip->start(canned.dripMs);
            return;
        }
        socket->write(canned.body);
        if (!canned.streamForever)
            socket->disconnectFromHost();
        else
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
                if (socket->bytesToWrite() < 65536)
                    socket->write(QByteArray(65536, 'x'));
            });
    };
    QObject::connect(socket, &QTcpSocket::readyRead, socket, read);
    read();
}
