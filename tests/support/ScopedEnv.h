#pragma once

#include <QByteArray>
#include <QList>

#include <optional>
#include <utility>

// Sets (or, with no value, unsets) environment variables for the lifetime of the object and
// then restores what was there before.
class ScopedEnv {
public:
    using Settings = QList<std::pair<QByteArray, std::optional<QByteArray>>>;

    ScopedEnv(const char *name, std::optional<QByteArray> value)
        : ScopedEnv(Settings { { name, std::move(value) } })
    {
    }
    explicit ScopedEnv(const Settings &settings)
    {
        for (const auto &[name, value] : settings) {
            const char *variable = name.constData();
            m_previous.prepend({ name,
                qEnvironmentVariableIsSet(variable) ? std::optional(qgetenv(variable))
                                                    : std::nullopt });
            value ? qputenv(variable, *value) : qunsetenv(variable);
        }
    }
    ~ScopedEnv()
    {
        for (const auto &[name, value] : std::as_const(m_previous))
            value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
    }
    Q_DISABLE_COPY_MOVE(ScopedEnv)

private:
    Settings m_previous; // latest first, so that a name set twice gets its first value back
};

// Unsets, for its lifetime, every variable through which the machine's environment could
// route loopback traffic elsewhere, redirect the service or add trust.
struct CleanNetworkEnv : ScopedEnv {
    CleanNetworkEnv()
        : ScopedEnv({ { "http_proxy", {} }, { "https_proxy", {} }, { "all_proxy", {} },
            { "no_proxy", {} }, { "HTTP_PROXY", {} }, { "HTTPS_PROXY", {} }, { "ALL_PROXY", {} },
            { "NO_PROXY", {} }, { "AWS_ENDPOINT_URL", {} }, { "AWS_ENDPOINT_URL_REDSHIFT", {} },
            { "AWS_ENDPOINT_URL_REDSHIFT_SERVERLESS", {} }, { "AWS_CA_BUNDLE", {} } })
    {
    }
};
