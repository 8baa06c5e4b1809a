#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <list>
#include <optional>

// Sets (or, with no value, unsets) an environment variable for the lifetime of the object
// and restores what was there before.
class ScopedEnv {
public:
    ScopedEnv(const char *name, std::optional<QByteArray> value)
        : m_name(name)
    {
        if (qEnvironmentVariableIsSet(name))
            m_previous = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_previous)
            qputenv(m_name, *m_previous);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_previous;
};

// Unsets, for its lifetime, every variable through which the machine's environment could
// route loopback traffic elsewhere, redirect the service or add trust.
class CleanNetworkEnv {
public:
    CleanNetworkEnv()
    {
        for (const char *name :
            { "http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                "ALL_PROXY", "NO_PROXY", "AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_REDSHIFT",
                "AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS", "AWS_CA_BUNDLE" })
            m_unset.emplace_back(name, std::nullopt);
    }

private:
    std::list<ScopedEnv> m_unset;
};
