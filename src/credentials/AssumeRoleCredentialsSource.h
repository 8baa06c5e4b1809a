#pragma once

#include "CredentialsSource.h"

#include <memory>
#include <optional>

// A profile's role_arn: the keys of its source, then STS AssumeRole (the query API, signed
// for "sts" in the profile's region) at AWS_ENDPOINT_URL_STS or https://sts.<region>.
// amazonaws.com. With mfa_serial the user is asked for the code first.
class AssumeRoleCredentialsSource : public CredentialsSource {
    Q_OBJECT
public:
    struct Role {
        QString profile;
        QString roleArn;
        QString region; // the profile's region, else us-east-1
        std::optional<QString> roleSessionName; // else iamlink-<unix time>
        std::optional<QString> durationSeconds;
        std::optional<QString> externalId;
        std::optional<QString> mfaSerial;
    };

    AssumeRoleCredentialsSource(HttpSend send,
        DesktopServices &desktop,
        std::unique_ptr<CredentialsSource> source,
        Role role);

    // The signed AssumeRole call made with `credentials`, or why it cannot be made.
    std::variant<URLRequest, TransportError> request(
        const AWSCredentials &credentials, const std::optional<QString> &tokenCode) const;
    // What a reply means: the Credentials when they are whole, else an alert quoting the
    // error's Code and Message or the transport error.
    static Result reply(const QString &profile, const HttpReply &reply);
    // The same for any STS call that answers Credentials, `context` saying which failed.
    static Result stsReply(const QString &context, const HttpReply &reply);

protected:
    void start() override;
    void stop() override;

private:
    void sourceFinished(const Result &result);
    void assumeRole(const AWSCredentials &credentials, const std::optional<QString> &tokenCode);

    HttpSend m_send;
    DesktopServices &m_desktop;
    std::unique_ptr<CredentialsSource> m_source;
    Role m_role;
    bool m_asking = false;
};
