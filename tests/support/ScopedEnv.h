#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>

#include <optional>

// Sets (or, with no value, unsets) environment variables for the lifetime of the object and
// then restores what was there before.
class ScopedEnv {
public:
    using Settings = QList<std::pair<QByteArray, std::optional<QByteArray>>>;

    ScopedEnv(const char *name, const std::optional<QByteArray> &value)
    {
        m_previous = apply({ { name, value } });
    }
    explicit ScopedEnv(const Settings &settings) { m_previous = apply(settings); }
    ~ScopedEnv() { apply(m_previous); }
    Q_DISABLE_COPY_MOVE(ScopedEnv)

private:
    // Returns what restores the environment, latest first so that a name set twice gets its
    // first value back.
    static Settings apply(const Settings &settings)
    {
        Settings previous;
        for (const auto &[name, value] : settings) {
            const char *variable = name.constData();
            previous.prepend({ name,
                qEnvironmentVariableIsSet(variable) ? std::optional(qgetenv(variable))
                                                    : std::nullopt });
            value ? qputenv(variable, *value) : qunsetenv(variable);
        }
        return previous;
    }

    Settings m_previous;
};

// The proxies, through which the machine could route loopback traffic elsewhere, every
// AWS_ variable (keys, profiles, regions, endpoints, trust) and every PG one (libpq's), unset.
inline ScopedEnv::Settings cleanEnvironment()
{
    ScopedEnv::Settings unset { { "http_proxy", {} }, { "https_proxy", {} }, { "all_proxy", {} },
        { "no_proxy", {} }, { "HTTP_PROXY", {} }, { "HTTPS_PROXY", {} }, { "ALL_PROXY", {} },
        { "NO_PROXY", {} } };
    for (const QString &variable : QProcess::systemEnvironment()) {
        if (variable.startsWith(u"AWS_") || variable.startsWith(u"PG"))
            unset.append({ variable.section(u'=', 0, 0).toUtf8(), std::nullopt });
    }
    return unset;
}
