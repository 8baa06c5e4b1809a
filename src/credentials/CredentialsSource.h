#pragma once

#include "AWSCredentials.h"
#include "AWSRequest.h"
#include "Cancellable.h"
#include "DesktopServices.h"
#include "HttpClient.h"

#include <functional>
#include <variant>

// One way to the AWS keys: keys at hand, a credential process, an assumed role, single
// sign-on. Made, fetched once and cancelled on the main thread.
class CredentialsSource : public Cancellable {
    Q_OBJECT
public:
    using Result = std::variant<AWSCredentials, Alert>;
    using Completion = std::function<void(const Result &)>;

    // Starts getting the keys: `completion` runs once, later, on the main thread, also after
    // cancel(). An outcome reached after cancel() comes as the cancelled alert; one reached
    // before (keys at hand, say) comes as it is.
    void fetch(Completion completion);

    // Stops the call in flight, and the rest of the work through stop().
    void cancel() final;

    // What a cancelled source finishes with.
    static Alert cancelledAlert();

protected:
    bool isCancelled() const { return m_cancelled; }

    virtual void start() = 0;
    // What else the source has running and can stop: a command, a question, another source.
    virtual void stop() { }
    // Sends the call that gives the keys, and finishes with what `read` makes of its reply.
    void send(const HttpSend &send,
        const std::variant<URLRequest, TransportError> &request,
        std::function<Result(const HttpReply &)> read);
    // Hands `result` to the completion the first time; later calls do nothing.
    void finish(const Result &result);
    // The same, posted to the main thread: for outcomes known inside start().
    void finishLater(const Result &result);

private:
    void deliver(const Result &result);

    Completion m_completion;
    QPointer<Cancellable> m_task;
    bool m_cancelled = false;
};
