#include "CredentialsSource.h"

#include "MainThread.h"

#include <QPointer>

void CredentialsSource::fetch(Completion completion)
{
    m_completion = std::move(completion);
    start();
}

Alert CredentialsSource::cancelledAlert()
{
    return { QStringLiteral("Failed to get credentials from AWS"),
        QStringLiteral("The request was cancelled.") };
}

void CredentialsSource::finish(const Result &result)
{
    if (Completion completion = std::exchange(m_completion, {}))
        completion(result);
}

void CredentialsSource::finishLater(const Result &result)
{
    MainThread::post([self = QPointer(this), result] {
        if (self)
            self->finish(result);
    });
}
