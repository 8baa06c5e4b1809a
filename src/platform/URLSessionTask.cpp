#include "URLSessionTask.h"

#include "URLSession.h"
#include "URLSessionWorker.h"

URLSessionTask::URLSessionTask(URLSession *session, URLSessionWorker *worker, quint64 id)
    : Cancellable(session)
    , m_worker(worker)
    , m_id(id)
{
}

void URLSessionTask::resume()
{
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, id = m_id] { worker->resume(id); });
}

void URLSessionTask::cancel()
{
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, id = m_id] { worker->cancel(id); });
}
