#include "SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

// Far beyond any URL; what is longer is dropped, not kept in memory.
constexpr qint64 maxURLBytes = 16 << 20;
// Waits for the other instance; a socket nobody listens on refuses at once.
constexpr int handOverMs = 2000;

} // namespace

SingleInstance::SingleInstance(const QString &socketPath, QObject *parent)
    : QObject(parent)
    , m_socketPath(socketPath)
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

QString SingleInstance::defaultSocketPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/iamlink.socket");
}

void SingleInstance::listen()
{
    if (m_socketPath.isEmpty())
        return;
    // The socket of an instance that was killed is in the way.
    if (!m_server.listen(m_socketPath)
        && m_server.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(m_socketPath);
        m_server.listen(m_socketPath);
    }
    // Only the owner may connect. The runtime folder already lets nobody else in (Qt checks
    // that it is the user's own, mode 0700); QLocalServer::UserAccessOption would make sure
    // again by binding in a folder of its own first, at several times the cost, at each start.
    if (m_server.isListening())
        QFile::setPermissions(m_socketPath, QFile::ReadOwner | QFile::WriteOwner);
}

bool SingleInstance::handOver(const QString &url)
{
    if (m_socketPath.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(handOverMs))
        return false;
    socket.write(url.toUtf8());
    socket.disconnectFromServer();
    return socket.state() == QLocalSocket::UnconnectedState
        || socket.waitForDisconnected(handOverMs);
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            socket->deleteLater();
            Q_EMIT received(QString::fromUtf8(socket->readAll()));
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() <= maxURLBytes)
                return;
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        });
    }
}
