#pragma once

#include "CredentialsResult.h"
#include "TransportError.h"
#include "URLQueryItem.h"
#include "URLRequest.h"
#include "URLSession.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

class URLSessionTask;

// Asks the Amazon Redshift query API for temporary database credentials
// (GetClusterCredentials): builds and signs the POST, sends it on a session of its own,
// reads the XML reply off the main thread and delivers a CredentialsResult on the main
// thread. Made with create(), filled by the caller, started once.
class RedshiftCredentialsRequest : public std::enable_shared_from_this<RedshiftCredentialsRequest> {
public:
    using Completion = std::function<void(const CredentialsResult &)>;

    static std::shared_ptr<RedshiftCredentialsRequest> create();

    // Filled by the caller before start().
    std::optional<QString> accessKeyID;
    std::optional<QString> secretAccessKey;
    URLQueryItems parameters;
    const QString serviceType = QStringLiteral("redshift");
    std::optional<QString> awsRegion;
    // The instant to sign with; absent means the current time (tests fix it).
    std::optional<QDateTime> signingTime;

    // The reply reader's state: the text gathered per element name (latest element of each
    // name) and the names of the elements open at the current point of the parse.
    QHash<QString, QString> elementContents;
    QSet<QString> openElements;
    // All text gathered so far, counted once per element that holds it. A parse stops when
    // more would pass maxGatheredCharacters (a reply of 100,000 nested elements, say).
    qsizetype gatheredCharacters = 0;
    bool gatheredTextLimitReached = false;
    static constexpr qsizetype maxGatheredCharacters = 8 * 1024 * 1024;

    // Sends the call and returns its task, already running; `completion` runs exactly once,
    // later, on the main thread. When the request cannot be sent (missing region or keys,
    // a bad endpoint override or CA bundle) nothing is sent, the returned task is null and
    // the failure is delivered through `completion` all the same.
    QPointer<URLSessionTask> start(Completion completion);

    // What start() sends: the signed POST and its session's settings.
    struct Prepared {
        URLRequest request;
        URLSession::Configuration configuration;
    };
    // Builds and signs the call without sending it (start() sends what this returns), or
    // the failure start() would deliver. Adds the Action item to `parameters`.
    std::variant<Prepared, CredentialsResult> prepare();

    // The task's end, on the session's thread: parse the body if any, then post the delivery.
    void handleTaskCompletion(const std::optional<QByteArray> &body,
        const std::optional<TransportError> &transportError,
        Completion completion);

    // On the main thread: builds the CredentialsResult from elementContents and calls
    // `completion` with it.
    void deliverCredentialsResult(
        const Completion &completion, const std::optional<TransportError> &transportError) const;

    // The XML reader's four events.
    void didStartElement(const QString &name);
    void didEndElement(const QString &name);
    void foundCharacters(QStringView text);
    void didEndDocument();
    // Runs the reader over `body` once; a malformed body keeps what was gathered before it broke.
    void parse(const QByteArray &body);

    // Redirects are never followed: the redirect reply is the final reply.
    static bool willPerformHTTPRedirection() { return false; }

private:
    RedshiftCredentialsRequest() = default;
};
