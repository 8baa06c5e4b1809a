#pragma once

#include <QObject>

#include <atomic>

class URLSession;

// The handle of the one data task of a URLSession. It lives on the main thread as a child of
// its session, so it is deleted with the session once the task has completed; hold it
// through a QPointer.
class URLSessionTask : public QObject {
    Q_OBJECT
public:
    // Sends the request. Only the first call counts.
    void resume();
    // Safe from the main thread at any time: before, during or after completion, any
    // number of times. A task cancelled before it ended completes with a Cancelled error.
    void cancel();

private:
    friend class URLSession;
    explicit URLSessionTask(URLSession *session);

    URLSession *m_session;
    std::atomic<bool> m_resumed { false };
    std::atomic<bool> m_cancelled { false };
};
