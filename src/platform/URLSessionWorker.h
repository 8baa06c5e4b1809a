#pragma once

#include "URLSession.h"

#include <QByteArray>
#include <QObject>

#include <optional>
#include <unordered_map>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// A URLSession's exchanges, on the session's thread: everything here runs there. The
// session hands it tasks by id and it reports each task's end by id.
class URLSessionWorker : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Exchanges still running end without their completions.
    ~URLSessionWorker() override;

    void add(quint64 id,
        URLRequest request,
        URLSession::Completion completion,
        URLSession::Configuration configuration);
    void resume(quint64 id);
    void cancel(quint64 id);

Q_SIGNALS:
    // The completion of task `id` has run.
    void ended(quint64 id);

private:
    struct Exchange {
        URLRequest request;
        URLSession::Completion completion;
        URLSession::Configuration configuration;
        QNetworkReply *reply = nullptr; // once resumed; a child of the manager
        QByteArray body {};
    };
    using Exchanges = std::unordered_map<quint64, Exchange>;

    QNetworkRequest networkRequest(const Exchange &exchange);
    void checkDeclaredLength(Exchanges::iterator exchange);
    // Takes in what has arrived; false when that passed the size limit, which ended the
    // exchange.
    bool readBody(Exchanges::iterator exchange);
    void finish(Exchanges::iterator exchange);
    void failTooLarge(Exchanges::iterator exchange);
    void fail(Exchanges::iterator exchange, TransportError::Kind kind, const QString &description);
    // Ends the exchange: its reply, if any, is dropped (which stops the transfer) and the
    // completion runs.
    void complete(Exchanges::iterator exchange,
        std::optional<QByteArray> body,
        std::optional<HTTPURLResponse> response,
        std::optional<TransportError> transportError);

    QNetworkAccessManager *m_manager = nullptr; // a child, made on this thread
    std::optional<QList<QSslCertificate>> m_systemAuthorities;
    // Node-based, so an exchange stays put while others come and go.
    Exchanges m_exchanges;
};
