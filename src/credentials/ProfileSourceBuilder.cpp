#include "ProfileSourceBuilder.h"

#include "AssumeRoleCredentialsSource.h"
#include "DisplayedText.h"
#include "ProcessCredentialsSource.h"
#include "SSOCredentialsSource.h"
#include "StaticCredentialsSource.h"

namespace {

// Far more source profiles than any real chain of roles, and few enough that a file of
// thousands chained cannot exhaust the stack.
constexpr qsizetype maxSourceProfiles = 32;

QString quoted(const QString &text)
{
    return u'"' + displayedText(text) + u'"';
}

} // namespace

ProfileSourceBuilder::ProfileSourceBuilder(
    const AWSSharedConfig &config, HttpSend send, DesktopServices &desktop)
    : m_config(config)
    , m_send(std::move(send))
    , m_desktop(desktop)
{
}

std::optional<QString> ProfileSourceBuilder::setting(const QString &profile, const char *key) const
{
    return m_config.setting(profile, QString::fromLatin1(key));
}

bool ProfileSourceBuilder::hasStaticKeys(const QString &profile) const
{
    return setting(profile, "aws_access_key_id") || setting(profile, "aws_secret_access_key");
}

Alert ProfileSourceBuilder::profileAlert(const QString &profile, const QString &problem) const
{
    return {
        QStringLiteral("Unusable AWS profile"),
        QStringLiteral("The profile %1 in %2: %3.").arg(quoted(profile), m_config.paths(), problem)
    };
}

bool ProfileSourceBuilder::setsCredentials(const QString &profile) const
{
    for (const char *key :
        { "role_arn", "web_identity_token_file", "sso_account_id", "sso_role_name",
            "aws_access_key_id", "aws_secret_access_key", "credential_process" }) {
        if (setting(profile, key))
            return true;
    }
    return false;
}

ProfileSourceBuilder::Built ProfileSourceBuilder::source(const QString &profile)
{
    QStringList visited { profile };
    return source(profile, visited, false);
}

ProfileSourceBuilder::Built ProfileSourceBuilder::source(
    const QString &profile, QStringList &visited, bool asSourceProfile)
{
    if (setting(profile, "web_identity_token_file"))
        return profileAlert(profile,
            QStringLiteral("web_identity_token_file is not supported by iamlink; run "
                           "iamlink where the keys are in a profile or the environment"));
    // A source profile with keys of its own gives those, even if it names a role too.
    if (setting(profile, "role_arn") && !(asSourceProfile && hasStaticKeys(profile)))
        return assumedRole(profile, visited);
    if (setting(profile, "sso_account_id") || setting(profile, "sso_role_name"))
        return singleSignOn(profile);
    if (AWSSharedConfig::setting(
            m_config.credentials, profile, QStringLiteral("aws_access_key_id")))
        return staticKeys(m_config.credentials, m_config.credentialsPath, profile);
    if (const auto command = setting(profile, "credential_process"))
        return std::make_unique<ProcessCredentialsSource>(profile, *command);
    if (AWSSharedConfig::setting(m_config.config, profile, QStringLiteral("aws_access_key_id")))
        return staticKeys(m_config.config, m_config.configPath, profile);
    return profileAlert(profile,
        QStringLiteral("it sets no AWS keys: none of aws_access_key_id with "
                       "aws_secret_access_key, credential_process, role_arn, or sso_account_id "
                       "with sso_role_name"));
}

ProfileSourceBuilder::Built ProfileSourceBuilder::staticKeys(
    const AWSSharedFile &file, const QString &path, const QString &profile)
{
    const auto value = [&](const char *key) {
        return AWSSharedConfig::setting(file, profile, QString::fromLatin1(key));
    };
    const auto secret = value("aws_secret_access_key");
    if (!secret)
        return profileAlert(profile,
            QStringLiteral("%1 sets its aws_access_key_id but no aws_secret_access_key")
                .arg(displayedText(path)));
    return std::make_unique<StaticCredentialsSource>(
        AWSCredentials { *value("aws_access_key_id"), *secret, value("aws_session_token") });
}

ProfileSourceBuilder::Built ProfileSourceBuilder::assumedRole(
    const QString &profile, QStringList &visited)
{
    const auto sourceProfile = setting(profile, "source_profile");
    const auto credentialSource = setting(profile, "credential_source");
    if (sourceProfile.has_value() == credentialSource.has_value())
        return profileAlert(profile,
            QStringLiteral("its role_arn needs either source_profile or credential_source"));

    Built base;
    if (credentialSource) {
        if (*credentialSource != u"Environment")
            return profileAlert(profile,
                QStringLiteral("credential_source %1 is not supported by iamlink, only "
                               "Environment")
                    .arg(quoted(*credentialSource)));
        const auto keys = environmentCredentials();
        if (!keys)
            return profileAlert(profile,
                QStringLiteral("its credential_source is Environment, and AWS_ACCESS_KEY_ID "
                               "is not set"));
        if (const Alert *alert = std::get_if<Alert>(&*keys))
            return *alert;
        base = std::make_unique<StaticCredentialsSource>(std::get<AWSCredentials>(*keys));
    } else {
        if (!m_config.hasProfile(*sourceProfile))
            return profileAlert(profile,
                QStringLiteral("its source_profile %1 does not exist").arg(quoted(*sourceProfile)));
        // Only a profile that holds keys of its own may be its own source.
        if (visited.contains(*sourceProfile)
            && (*sourceProfile != profile || !hasStaticKeys(profile)))
            return profileAlert(profile,
                QStringLiteral("its source profiles form a loop: %1")
                    .arg(displayedText(
                        (visited + QStringList { *sourceProfile }).join(QStringLiteral(" -> ")))));
        if (visited.size() > maxSourceProfiles)
            return profileAlert(profile,
                QStringLiteral("its chain of source profiles is longer than %1")
                    .arg(maxSourceProfiles));
        visited.append(*sourceProfile);
        base = source(*sourceProfile, visited, true);
        if (const Alert *alert = std::get_if<Alert>(&base))
            return *alert;
    }
    return std::make_unique<AssumeRoleCredentialsSource>(m_send, m_desktop,
        std::get<std::unique_ptr<CredentialsSource>>(std::move(base)),
        AssumeRoleCredentialsSource::Role { profile, *setting(profile, "role_arn"),
            setting(profile, "region").value_or(QStringLiteral("us-east-1")),
            setting(profile, "role_session_name"), setting(profile, "duration_seconds"),
            setting(profile, "external_id"), setting(profile, "mfa_serial") });
}

ProfileSourceBuilder::Built ProfileSourceBuilder::singleSignOn(const QString &profile)
{
    SSOCredentialsSource::Role role { { profile, setting(profile, "sso_session"), {}, {}, {} }, {},
        {} };
    AWSSharedFile::Settings settings;
    if (const auto &name = role.session.name) {
        const auto session = m_config.config.ssoSessions.constFind(*name);
        if (session == m_config.config.ssoSessions.cend())
            return profileAlert(profile,
                QStringLiteral("its sso_session %1 has no [sso-session] section")
                    .arg(quoted(*name)));
        settings = *session;
        // As the AWS CLI asks for them: a list separated by commas.
        role.session.scopes = settings
                                  .value(QStringLiteral("sso_registration_scopes"),
                                      QStringLiteral("sso:account:access"))
                                  .split(u',', Qt::SkipEmptyParts);
        for (QString &scope : role.session.scopes)
            scope = scope.trimmed();
    }
    QStringList missing;
    const auto take = [&](const char *key, QString &into) {
        // The [sso-session] section first, then the profile.
        into = settings.value(QString::fromLatin1(key));
        if (into.isEmpty())
            into = setting(profile, key).value_or(QString());
        if (into.isEmpty())
            missing.append(QString::fromLatin1(key));
    };
    take("sso_start_url", role.session.startURL);
    take("sso_region", role.session.region);
    take("sso_account_id", role.accountId);
    take("sso_role_name", role.roleName);
    if (!missing.isEmpty())
        return profileAlert(profile,
            QStringLiteral("its single sign-on lacks %1").arg(missing.join(QStringLiteral(", "))));
    return std::make_unique<SSOCredentialsSource>(m_send, m_desktop, std::move(role));
}

std::optional<std::variant<AWSCredentials, Alert>> ProfileSourceBuilder::environmentCredentials()
{
    const auto keyId = environment("AWS_ACCESS_KEY_ID");
    if (!keyId)
        return std::nullopt;
    const auto secret = environment("AWS_SECRET_ACCESS_KEY");
    if (!secret)
        return Alert { QStringLiteral("Incomplete AWS keys in the environment"),
            QStringLiteral("AWS_ACCESS_KEY_ID is set, and AWS_SECRET_ACCESS_KEY is not.") };
    return AWSCredentials { *keyId, *secret, environment("AWS_SESSION_TOKEN") };
}

std::optional<QString> ProfileSourceBuilder::environment(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? std::nullopt : std::optional(value);
}
