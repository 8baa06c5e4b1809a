#include "URLSessionTask.h"

#include "URLSession.h"

URLSessionTask::URLSessionTask(URLSession *session)
    : QObject(session)
    , m_session(session)
{
}

void URLSessionTask::resume()
{
    if (!m_resumed.exchange(true))
        m_session->resumeTask();
}

void URLSessionTask::cancel()
{
    if (!m_cancelled.exchange(true))
        m_session->cancelTask();
}
