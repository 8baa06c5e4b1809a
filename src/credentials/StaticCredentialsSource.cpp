#include "StaticCredentialsSource.h"

StaticCredentialsSource::StaticCredentialsSource(AWSCredentials credentials)
    : m_credentials(std::move(credentials))
{
}

void StaticCredentialsSource::start()
{
    finishLater(m_credentials);
}
