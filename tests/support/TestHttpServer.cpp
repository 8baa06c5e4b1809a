#include "TestHttpServer.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>

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

// A request is complete once its header block and Content-Length bytes of body are in; it is
// then cut off the front of `buffer`.
std::optional<RecordedRequest> takeRequest(QByteArray &buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    RecordedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
    }
    const qsizetype end
        = headerEnd + 4 + request.header("Content-Length").value_or("0").toLongLong();
    if (buffer.size() < end)
        return std::nullopt;
    request.body = buffer.mid(headerEnd + 4, end - headerEnd - 4);
    buffer.remove(0, end);
    return request;
}

QByteArray replyBytes(const CannedReply &reply)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
    for (const auto &[name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    if (const qint64 length = reply.declaredLength.value_or(reply.body.size()); length >= 0)
        out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    return out + "Connection: close\r\n\r\n" + reply.body;
}

// A throwaway self-signed certificate for localhost, made fresh for each server.
QSslConfiguration tlsConfiguration(const QString &dir, QString &certificatePath)
{
    certificatePath = dir + u"/cert.pem"_s;
    const QString keyPath = dir + u"/key.pem"_s;
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(u"openssl"_s,
        u"req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
        u"/CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1"_s.split(u' ')
            << u"-keyout"_s << keyPath << u"-out"_s << certificatePath);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0)
        qWarning("TestHttpServer: openssl made no certificate: %s", openssl.readAll().constData());
    QFile key(keyPath);
    (void)key.open(QIODevice::ReadOnly);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(QSslCertificate::fromPath(certificatePath));
    configuration.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}

} // namespace

struct TestHttpServer::Private {
    Mode mode = Mode::Plain;
    QTemporaryDir certificateDir;
    QString certificatePath;
    QTcpServer *server = nullptr;
    CannedReply reply;
    QList<RecordedRequest> requests;
    QHash<QTcpSocket *, QByteArray> buffers;
};

TestHttpServer::TestHttpServer(Mode mode, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->mode = mode;
    if (mode == Mode::Tls) {
        auto *server = new QSslServer(this);
        server->setSslConfiguration(tlsConfiguration(d->certificateDir.path(), d->certificatePath));
        d->server = server;
    } else {
        d->server = new QTcpServer(this);
    }

    // For TLS, a connection becomes pending only once its handshake is done.
    connect(d->server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = d->server->nextPendingConnection()) {
            d->buffers.insert(socket, QByteArray());
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                QByteArray &buffer = d->buffers[socket];
                buffer += socket->readAll();
                const std::optional<RecordedRequest> request = takeRequest(buffer);
                if (!request)
                    return;
                const CannedReply reply = d->reply;
                d->requests.append(*request);
                // The signal may end the test's wait and the server with it.
                const QPointer<QTcpSocket> guard(socket);
                Q_EMIT requestReceived();
                if (!guard || reply.neverAnswer)
                    return;
                if (reply.streamForever) {
                    CannedReply head = reply;
                    head.declaredLength = -1;
                    guard->write(replyBytes(head));
                    const QByteArray chunk(64 * 1024, 'x');
                    const auto more = [socket = guard.data(), chunk] {
                        if (socket->bytesToWrite() < chunk.size())
                            socket->write(chunk);
                    };
                    connect(guard, &QTcpSocket::bytesWritten, guard, more);
                    more();
                    return;
                }
                guard->write(replyBytes(reply));
                guard->disconnectFromHost();
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                d->buffers.remove(socket);
                socket->deleteLater();
            });
            if (socket->bytesAvailable() > 0)
                Q_EMIT socket->readyRead();
        }
    });
    if (!d->server->listen(QHostAddress::LocalHost, 0))
        qWarning("TestHttpServer: cannot listen: %s", qPrintable(d->server->errorString()));
}

TestHttpServer::~TestHttpServer()
{
    // The sockets' handlers reach into d, which is gone before the server and its sockets.
    for (QTcpSocket *socket : d->buffers.keys()) {
        socket->disconnect(this);
        delete socket;
    }
}

QUrl TestHttpServer::url() const
{
    const bool tls = d->mode == Mode::Tls;
    return QUrl(u"%1://%2:%3"_s.arg(tls ? u"https"_s : u"http"_s,
        tls ? u"localhost"_s : u"127.0.0.1"_s, QString::number(d->server->serverPort())));
}

QString TestHttpServer::caBundlePath() const
{
    return d->certificatePath;
}

void TestHttpServer::setReply(const CannedReply &reply)
{
    d->reply = reply;
}

QList<RecordedRequest> TestHttpServer::requests() const
{
    return d->requests;
}
