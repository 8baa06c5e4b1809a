#pragma once

#include "Cancellable.h"

class URLSession;
class URLSessionWorker;

// The handle of one data task of a URLSession, on the main thread. The session deletes it
// once the task's completion has run.
class URLSessionTask : public Cancellable {
    Q_OBJECT
public:
    // Sends the request. Only the first call counts.
    void resume();
    // Before resume() the task completes as cancelled without sending; after completion
    // this has no effect.
    void cancel() override;

private:
    friend class URLSession;
    URLSessionTask(URLSession *session, URLSessionWorker *worker, quint64 id);

    URLSessionWorker *m_worker; // lives as long as the session, the handle's parent
    quint64 m_id;
};
