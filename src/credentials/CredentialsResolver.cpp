#include "CredentialsResolver.h"

#include "DisplayedText.h"
#include "ProfileSourceBuilder.h"
#include "StaticCredentialsSource.h"

#include <QStringList>
#include <QTimer>

namespace {

using Built = ProfileSourceBuilder::Built;

// An empty value is missing too: the service could only refuse it.
std::optional<QString> present(const std::optional<QString> &value)
{
    return value && !value->isEmpty() ? value : std::nullopt;
}

constexpr auto environment = &ProfileSourceBuilder::environment;

const QString incomplete = QStringLiteral("Incomplete Redshift IAM URL");

Built fromURL(const CredentialsResolver::Query &query)
{
    const auto keyId = present(query.accessKeyID);
    const auto secret = present(query.secretAccessKey);
    if (keyId && secret)
        return std::make_unique<StaticCredentialsSource>(
            AWSCredentials { *keyId, *secret, present(query.sessionToken) });
    QStringList missing;
    if (!keyId)
        missing.append(QStringLiteral("AccessKeyID"));
    if (!secret)
        missing.append(QStringLiteral("SecretAccessKey"));
    return Alert { incomplete, QStringLiteral("Missing: ") + missing.join(QStringLiteral(", ")) };
}

QString profileName(const CredentialsResolver::Query &query)
{
    return present(query.profile)
        .value_or(environment("AWS_PROFILE").value_or(QStringLiteral("default")));
}

// The alert when the URL names a profile that neither file has.
std::optional<Alert> missingProfile(
    const CredentialsResolver::Query &query, const AWSSharedConfig &config)
{
    if (!present(query.profile) || config.hasProfile(*query.profile))
        return std::nullopt;
    return Alert { QStringLiteral("AWS profile not found"),
        QStringLiteral("The profile \"%1\" that the URL names is in neither %2 nor %3.")
            .arg(displayedText(*query.profile), displayedText(config.credentialsPath),
                displayedText(config.configPath)) };
}

// The source that decides, in order of precedence.
Built choose(const CredentialsResolver::Query &query,
    const std::variant<AWSSharedConfig, Alert> &loaded,
    const QString &profile,
    const HttpSend &send,
    DesktopServices &desktop)
{
    if (present(query.accessKeyID) || present(query.secretAccessKey) || present(query.sessionToken))
        return fromURL(query);
    const auto environmentKeys = ProfileSourceBuilder::environmentCredentials();
    if (!present(query.profile) && environmentKeys) {
        if (const Alert *alert = std::get_if<Alert>(&*environmentKeys))
            return *alert;
        return std::make_unique<StaticCredentialsSource>(
            std::get<AWSCredentials>(*environmentKeys));
    }
    // The remaining sources are profiles: the files must be readable now.
    if (const Alert *alert = std::get_if<Alert>(&loaded))
        return *alert;
    const auto &config = std::get<AWSSharedConfig>(loaded);
    ProfileSourceBuilder builder(config, send, desktop);
    if (const auto alert = missingProfile(query, config))
        return *alert;
    if (present(query.profile) || builder.setsCredentials(profile))
        return builder.source(profile);
    return Alert { incomplete,
        QStringLiteral("No AWS keys were found. iamlink looked in the URL (AccessKeyID and "
                       "SecretAccessKey), in the environment (AWS_ACCESS_KEY_ID and "
                       "AWS_SECRET_ACCESS_KEY), and for the profile \"%1\" in %2.")
            .arg(displayedText(profile), config.paths()) };
}

} // namespace

CredentialsResolver::CredentialsResolver(Query query)
    : m_query(std::move(query))
{
}

const std::variant<AWSSharedConfig, Alert> &CredentialsResolver::sharedConfig()
{
    if (!m_sharedConfig)
        m_sharedConfig = AWSSharedConfig::load();
    return *m_sharedConfig;
}

std::variant<QString, Alert> CredentialsResolver::region()
{
    if (const auto region = environment("AWS_REGION"))
        return *region;
    if (const auto region = environment("AWS_DEFAULT_REGION"))
        return *region;
    // A file that cannot be read or a profile that is not there would hide the region: that
    // is what the user must hear of.
    const auto &loaded = sharedConfig();
    if (const Alert *alert = std::get_if<Alert>(&loaded))
        return *alert;
    const auto &config = std::get<AWSSharedConfig>(loaded);
    if (const auto alert = missingProfile(m_query, config))
        return *alert;
    if (const auto region = present(config.setting(profileName(m_query), QStringLiteral("region"))))
        return *region;
    return Alert { incomplete,
        QStringLiteral("No AWS region was found. iamlink looked in the host name, a Region item, "
                       "AWS_REGION, AWS_DEFAULT_REGION and the AWS profile's region.") };
}

QPointer<Cancellable> CredentialsResolver::resolve(
    const HttpSend &send, DesktopServices &desktop, QObject *owner, Completion completion)
{
    Built built = choose(m_query, sharedConfig(), profileName(m_query), send, desktop);
    if (const Alert *alert = std::get_if<Alert>(&built)) {
        QTimer::singleShot(
            0, owner, [completion = std::move(completion), alert = *alert] { completion(alert); });
        return nullptr;
    }
    // Owned by `owner` too, so that it goes when the owner goes before it ended.
    CredentialsSource *source = std::get<std::unique_ptr<CredentialsSource>>(built).release();
    source->setParent(owner);
    source->fetch(
        [source, completion = std::move(completion)](const CredentialsSource::Result &result) {
            source->deleteLater();
            completion(result);
        });
    return source;
}
