#pragma once

#include "AWSCredentials.h"
#include "Cancellable.h"
#include "DesktopServices.h"

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
    // cancel(), which makes it come soon with an alert.
    void fetch(Completion completion);

    static Alert cancelledAlert();

protected:
    virtual void start() = 0;
    // Hands `result` to the completion the first time; later calls do nothing.
    void finish(const Result &result);
    // The same, posted to the main thread: for outcomes known inside start().
    void finishLater(const Result &result);

private:
    Completion m_completion;
};
