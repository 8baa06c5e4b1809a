#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <optional>
#include <variant>

// Waits on 127.0.0.1 for the form that an identity provider has the browser post there, and
// hands on its SAMLResponse field. One POST only, of at most 1 MiB, is taken: the browser gets
// a short page saying that it can be closed, and the listener stops listening at once. Any
// other request gets a page that says what is awaited, and the waiting goes on.
class SAMLResponseListener : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maxRequestSize = 1024 * 1024;
    // The field's value (empty when the form has none), or why the POST was refused.
    using Received = std::variant<QByteArray, QString>;

    explicit SAMLResponseListener(QObject *parent = nullptr);

    // Listens on 127.0.0.1:`port`; `received` runs once, on the main thread. Absent on
    // success, else why it cannot listen.
    std::optional<QString> listen(quint16 port, std::function<void(const Received &)> received);
    // Stops listening and drops the connections still waiting; `received` never runs.
    void close();

private:
    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &status, const QString &text);
    void deliver(const Received &received);

    QTcpServer m_server;
    std::function<void(const Received &)> m_received;
};
