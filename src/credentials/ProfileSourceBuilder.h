#pragma once

#include "AWSSharedConfig.h"
#include "CredentialsSource.h"
#include "HttpClient.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <variant>

// Turns a profile of the shared files into the source of its keys, as the AWS CLI does:
// role_arn (with source_profile, which may assume a role in turn, or credential_source =
// Environment), else single sign-on (sso_account_id, sso_role_name), else the credentials
// file's static keys, else credential_process, else the config file's static keys.
class ProfileSourceBuilder {
public:
    using Built = std::variant<std::unique_ptr<CredentialsSource>, Alert>;

    ProfileSourceBuilder(const AWSSharedConfig &config, HttpSend send, DesktopServices &desktop);

    // Whether `profile` exists and sets any of the settings above.
    bool setsCredentials(const QString &profile) const;
    // The source of an existing profile, or the alert that says what is wrong with it.
    Built source(const QString &profile);

    // The keys in AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN: absent
    // when no key ID is set, an alert when the secret is missing.
    static std::optional<std::variant<AWSCredentials, Alert>> environmentCredentials();
    // The variable's value; an empty one is missing too, as the service could only refuse it.
    static std::optional<QString> environment(const char *name);

private:
    Built source(const QString &profile, QStringList &visited, bool asSourceProfile);
    Built assumedRole(const QString &profile, QStringList &visited);
    Built singleSignOn(const QString &profile);
    Built staticKeys(const AWSSharedFile &file, const QString &path, const QString &profile);
    std::optional<QString> setting(const QString &profile, const char *key) const;
    bool hasStaticKeys(const QString &profile) const;
    Alert profileAlert(const QString &profile, const QString &problem) const;

    const AWSSharedConfig &m_config;
    HttpSend m_send;
    DesktopServices &m_desktop;
};
