#include "CredentialsEndpoint.h"

CredentialsEndpoint::CredentialsEndpoint()
    : m_endpoint("AWS_ENDPOINT_URL", server.url().toEncoded())
{
    for (const char *name : { "http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "AWS_ENDPOINT_URL_REDSHIFT", "AWS_CA_BUNDLE" })
        qunsetenv(name);
    replyCredentials(QStringLiteral("IAM:alice"), QStringLiteral("secret"));
}

QString CredentialsEndpoint::iamURL(const QString &query, const QString &userPart)
{
    return QStringLiteral("jdbc:redshift:iam://") + userPart + host + QStringLiteral(":5439/dev?")
        + query;
}

void CredentialsEndpoint::reply(int status, const QByteArray &body)
{
    CannedReply reply;
    reply.status = status;
    reply.body = body;
    server.setReply(reply);
}

void CredentialsEndpoint::replyCredentials(const QString &dbUser, const QString &dbPassword)
{
    reply(200,
        "<GetClusterCredentialsResponse><GetClusterCredentialsResult><DbUser>"
            + dbUser.toHtmlEscaped().toUtf8() + "</DbUser><DbPassword>"
            + dbPassword.toHtmlEscaped().toUtf8()
            + "</DbPassword></GetClusterCredentialsResult></GetClusterCredentialsResponse>");
}

void CredentialsEndpoint::neverAnswer()
{
    CannedReply silent;
    silent.neverAnswer = true;
    server.setReply(silent);
}
