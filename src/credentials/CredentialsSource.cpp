#include "CredentialsSource.h"

#include <QTimer>

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

void CredentialsSource::send(const HttpSend &send,
    const std::variant<URLRequest, TransportError> &request,
    std::function<Result(const HttpReply &)> read)
{
    m_task = AWSRequest::send<Result>(
        send, request, std::move(read), [self = QPointer(this)](const Result &result) {
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
    QTimer::singleShot(
        0, this, [this, result = m_cancelled ? cancelledAlert() : result] { deliver(result); });
}

void CredentialsSource::deliver(const Result &result)
{
    if (Completion completion = std::exchange(m_completion, {}))
        completion(result);
}
