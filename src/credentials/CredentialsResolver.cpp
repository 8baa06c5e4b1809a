#include "CredentialsResolver.h"

#include "MainThread.h"

#include <QStringList>

QPointer<Cancellable> CredentialsResolver::resolve(
    const Query &query, URLSession &, DesktopServices &, Completion completion)
{
    // An empty key is missing too: the service could only refuse it.
    const auto isMissing = [](const std::optional<QString> &key) {
        return !key || key->isEmpty();
    };
    QStringList missing;
    if (isMissing(query.accessKeyID))
        missing.append(QStringLiteral("AccessKeyID"));
    if (isMissing(query.secretAccessKey))
        missing.append(QStringLiteral("SecretAccessKey"));
    std::variant<Resolution, Alert> resolved
        = Alert { QStringLiteral("Incomplete Redshift IAM URL"),
              QStringLiteral("Missing: ") + missing.join(QStringLiteral(", ")) };
    if (missing.isEmpty())
        resolved = Resolution { { *query.accessKeyID, *query.secretAccessKey, query.sessionToken }, {} };
    MainThread::post([completion = std::move(completion), resolved] { completion(resolved); });
    return nullptr;
}
