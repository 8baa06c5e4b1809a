#include "SAMLResponseListener.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace {

// Far more than any browser's request head.
constexpr qsizetype maxHeadSize = 64 * 1024;

} // namespace

SAMLResponseListener::SAMLResponseListener(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
    });
}

std::optional<QString> SAMLResponseListener::listen(
    quint16 port, std::function<void(const Received &)> received)
{
    m_received = std::move(received);
    if (m_server.listen(QHostAddress::LocalHost, port))
        return std::nullopt;
    return m_server.errorString();
}

void SAMLResponseListener::close()
{
    m_received = {};
    m_server.close();
    // The connections still waiting are the server's children.
    qDeleteAll(m_server.findChildren<QTcpSocket *>());
}

void SAMLResponseListener::read(QTcpSocket *socket)
{
    // Left in the socket until whole: the head, then Content-Length bytes of body.
    const QByteArray received = socket->peek(maxHeadSize + maxRequestSize + 4);
    const qsizetype headEnd = received.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (received.size() > maxHeadSize)
            answer(socket, "431 Request Header Fields Too Large", QStringLiteral("Too large."));
        return;
    }
    const QList<QByteArray> lines = received.first(headEnd).split('\n');
    if (!lines.first().startsWith("POST ")) {
        answer(socket, "404 Not Found",
            QStringLiteral("iamlink waits here for your identity provider's sign-in."));
        return;
    }
    std::optional<qsizetype> length;
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        bool isNumber = false;
        const qsizetype value = line.sliced(colon + 1).trimmed().toLongLong(&isNumber);
        if (colon > 0
            && line.first(colon).trimmed().compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = isNumber && value >= 0 ? std::optional(value) : std::optional<qsizetype>(-1);
    }
    if (!length || *length < 0 || *length > maxRequestSize) {
        answer(socket, "413 Content Too Large", QStringLiteral("iamlink refused this sign-in."));
        deliver(QStringLiteral("was not a form of at most 1 MiB"));
        return;
    }
    if (received.size() < headEnd + 4 + *length)
        return;
    const QUrlQuery form(QString::fromLatin1(received.sliced(headEnd + 4, *length)));
    answer(
        socket, "200 OK", QStringLiteral("iamlink has your sign-in. You can close this window."));
    deliver(form.queryItemValue(QStringLiteral("SAMLResponse"), QUrl::FullyDecoded).toLatin1());
}

void SAMLResponseListener::answer(QTcpSocket *socket, const QByteArray &status, const QString &text)
{
    const QByteArray page = "<!DOCTYPE html>\n<meta charset=\"utf-8\"><title>iamlink</title>\n<p>"
        + text.toHtmlEscaped().toUtf8() + "\n";
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\n"
        + "Content-Length: " + QByteArray::number(page.size())
        + "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + page);
    // The page goes out even if the listener goes first; a browser that does not read it is
    // dropped after a while.
    socket->disconnect(this);
    socket->setParent(nullptr);
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(10000, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void SAMLResponseListener::deliver(const Received &received)
{
    const auto deliver = std::exchange(m_received, {});
    close();
    if (deliver)
        deliver(received);
}
