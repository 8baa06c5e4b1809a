#include "TestHttpServer.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

std::optional<QByteArray> RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

// A request is complete once its header block and Content-Length bytes of body are in.
// Returns nullopt while more bytes are needed; `consumed` tells how much of `buffer` it used.
std::optional<RecordedRequest> parseRequest(const QByteArray &buffer, qsizetype &consumed)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;

    RecordedRequest request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);

    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({ name, value });
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }

    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < contentLength)
        return std::nullopt;
    request.body = buffer.mid(bodyStart, contentLength);
    consumed = bodyStart + contentLength;
    return request;
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

namespace {

// A throwaway self-signed certificate for localhost, made fresh for each server.
bool makeCertificate(const QString &dir, QString &certificatePath, QString &keyPath)
{
    certificatePath = dir + QStringLiteral("/cert.pem");
    keyPath = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"), QStringLiteral("-keyout"),
            keyPath, QStringLiteral("-out"), certificatePath });
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0) {
        qWarning("TestHttpServer: openssl could not make a certificate: %s",
            openssl.readAll().constData());
        return false;
    }
    return true;
}

} // namespace

TestHttpServer::TestHttpServer(Mode mode, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->mode = mode;
    if (mode == Mode::Tls) {
        auto *sslServer = new QSslServer(this);
        QString keyPath;
        if (d->certificateDir.isValid()
            && makeCertificate(d->certificateDir.path(), d->certificatePath, keyPath)) {
            QFile keyFile(keyPath);
            keyFile.open(QIODevice::ReadOnly);
            QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
            const QList<QSslCertificate> chain = QSslCertificate::fromPath(d->certificatePath);
            if (!chain.isEmpty())
                configuration.setLocalCertificate(chain.first());
            configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
            configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
            sslServer->setSslConfiguration(configuration);
        }
        d->server = sslServer;
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
                qsizetype consumed = 0;
                const std::optional<RecordedRequest> request = parseRequest(buffer, consumed);
                if (!request)
                    return;
                buffer.remove(0, consumed);
                const CannedReply reply = d->reply;
                d->requests.append(*request);
                // The signal may end the test's wait and the server with it.
                QPointer<QTcpSocket> guard(socket);
                Q_EMIT requestReceived();
                if (!guard || reply.neverAnswer)
                    return;
                QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' '
                    + reasonPhrase(reply.status) + "\r\n";
                for (const auto &[name, value] : reply.headers)
                    out += name + ": " + value + "\r\n";
                const qint64 length = reply.declaredLength.value_or(reply.body.size());
                if (length >= 0)
                    out += "Content-Length: " + QByteArray::number(length) + "\r\n";
                out += "Connection: close\r\n\r\n";
                out += reply.body;
                guard->write(out);
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
    d->server->close();
    for (QTcpSocket *socket : d->buffers.keys()) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

QUrl TestHttpServer::url() const
{
    QUrl url;
    url.setScheme(d->mode == Mode::Tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(d->mode == Mode::Tls ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"));
    url.setPort(d->server->serverPort());
    return url;
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
