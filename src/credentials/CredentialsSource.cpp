#include "CredentialsSource.h"

#include "MainThread.h"

void CredentialsSource::fetch(Completion completion)
{
    m_completion = std::move(completion);
    start();
}

void CredentialsSource::cancel()
{
    m_cancelled = true;
    if (m_task)
        m_task->cancel();
    stop();
}

Alert CredentialsSource::cancelledAlert()
{
    return { QStringLiteral("Failed to get credentials from AWS"),
        QStringLiteral("The request was cancelled.") };
}

void CredentialsSource::send(URLSession &session,
    std::variant<URLRequest, TransportError> request,
    AWSRequest::Reader<Result> read)
{
    m_task = AWSRequest::send<Result>(session, std::move(request), std::move(read),
        [self = QPointer(this)](const Result &result) {
            if (self)
                self->finish(result);
        });
}

void CredentialsSource::finish(const Result &result)
{
    deliver(m_cancelled ? cancelledAlert() : result);
}

void CredentialsSource::finishLater(const Result &result)
{
    MainThread::post([self = QPointer(this), result = m_cancelled ? cancelledAlert() : result] {
        if (self)
            self->deliver(result);
    });
}

void CredentialsSource::deliver(const Result &result)
{
    if (Completion completion = std::exchange(m_completion, {}))
        completion(result);
}
