#include "CredentialsSource.h"

#include "MainThread.h"

#include <QPointer>

void CredentialsSource::fetch(Completion completion)
{
    m_completion = std::move(completion);
    start();
}

void CredentialsSource::cancel()
{
    m_cancelled = true;
    stop();
}

Alert CredentialsSource::cancelledAlert()
{
    return { QStringLiteral("Failed to get credentials from AWS"),
        QStringLiteral("The request was cancelled.") };
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
