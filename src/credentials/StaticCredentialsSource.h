#pragma once

#include "CredentialsSource.h"

// Keys at hand: from the URL, the environment or a profile's static keys.
class StaticCredentialsSource : public CredentialsSource {
    Q_OBJECT
public:
    explicit StaticCredentialsSource(AWSCredentials credentials);

protected:
    void start() override;

private:
    AWSCredentials m_credentials;
};
