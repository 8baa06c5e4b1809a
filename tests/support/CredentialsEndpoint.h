#pragma once

#include "ScopedEnv.h"
#include "TestHttpServer.h"

#include <QString>

// The loopback credentials service of the front-end tests: while it lives, AWS_ENDPOINT_URL
// points at its server (for this process and the processes it starts) and no proxy or
// Redshift-only endpoint from the environment gets in the way.
class CredentialsEndpoint {
public:
    CredentialsEndpoint();

    // "jdbc:redshift:iam://<userPart><host>:5439/dev?<query>"
    static QString iamURL(const QString &query = keys, const QString &userPart = QString());
    static inline const QString host
        = QStringLiteral("examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com");
    static inline const QString keys
        = QStringLiteral("AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI");

    void reply(int status, const QByteArray &body);
    void replyCredentials(const QString &dbUser, const QString &dbPassword);
    void neverAnswer();

    TestHttpServer server;

private:
    ScopedEnv m_endpoint;
};
