#include "ConnectionEnvironment.h"

#include "DisplayedText.h"
#include "URLQueryItem.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

// libpq's order of connection parameters, which the variables keep.
const QList<QByteArray> order { "PGHOST", "PGPORT", "PGDATABASE", "PGUSER", "PGPASSWORD",
    "PGCONNECT_TIMEOUT", "PGCLIENTENCODING", "PGAPPNAME", "PGSSLMODE", "PGSSLROOTCERT",
    "PGTARGETSESSIONATTRS" };

// The query items that have a variable, matched exactly, as libpq matches key words.
const QHash<QString, QByteArray> itemVariables {
    { QStringLiteral("sslmode"), "PGSSLMODE" },
    { QStringLiteral("sslrootcert"), "PGSSLROOTCERT" },
    { QStringLiteral("connect_timeout"), "PGCONNECT_TIMEOUT" },
    { QStringLiteral("application_name"), "PGAPPNAME" },
    { QStringLiteral("client_encoding"), "PGCLIENTENCODING" },
    { QStringLiteral("target_session_attrs"), "PGTARGETSESSIONATTRS" },
};

} // namespace

std::optional<ConnectionEnvironment> ConnectionEnvironment::forURL(const QUrl &url)
{
    if (url.scheme() != u"postgres" && url.scheme() != u"postgresql")
        return std::nullopt;
    ConnectionEnvironment environment;
    environment.m_url = url;
    environment.set("PGHOST", url.host(QUrl::FullyDecoded));
    if (url.port() >= 0)
        environment.set("PGPORT", QString::number(url.port()));
    environment.set("PGDATABASE", url.path(QUrl::FullyDecoded).mid(1));
    environment.set("PGUSER", url.userName(QUrl::FullyDecoded));
    environment.set("PGPASSWORD", url.password(QUrl::FullyDecoded));
    for (const URLQueryItem &item : queryItems(url).value_or(URLQueryItems())) {
        if (item.value && itemVariables.contains(item.name))
            environment.set(itemVariables.value(item.name), *item.value);
        else if (item.name == u"ssl" && item.value
            && item.value->compare(u"true", Qt::CaseInsensitive) == 0)
            environment.set("PGSSLMODE", QStringLiteral("require"));
        else if (!item.name.isEmpty())
            environment.m_leftOut.append(displayedText(item.name, 60));
    }
    environment.m_leftOut.removeDuplicates();
    std::ranges::sort(environment.m_variables, {},
        [](const auto &variable) { return order.indexOf(variable.first); });
    return environment;
}

void ConnectionEnvironment::set(const QByteArray &name, const QString &value)
{
    // An empty part is no part, as libpq takes it.
    if (value.isEmpty())
        return;
    const auto existing = std::ranges::find(m_variables, name, &Variable::first);
    if (existing != m_variables.end())
        existing->second = value;
    else
        m_variables.append({ name, value });
}

QByteArray ConnectionEnvironment::shellExports() const
{
    QByteArray text;
    for (const auto &[name, value] : m_variables) {
        // Inside single quotes nothing is special but the quote itself, which ends the
        // quoting, is escaped and starts it again.
        text += "export " + name + "='" + value.toUtf8().replace('\'', "'\\''") + "'\n";
    }
    return text;
}

QByteArray ConnectionEnvironment::json(const std::optional<QDateTime> &expiration) const
{
    QJsonObject object { { QStringLiteral("url"), QString::fromUtf8(m_url.toEncoded()) } };
    const auto add = [&](const QString &key, const QByteArray &variable) {
        const auto found = std::ranges::find(m_variables, variable, &Variable::first);
        if (found != m_variables.end())
            object.insert(key, found->second);
    };
    add(QStringLiteral("host"), "PGHOST");
    if (m_url.port() >= 0)
        object.insert(QStringLiteral("port"), m_url.port());
    add(QStringLiteral("database"), "PGDATABASE");
    add(QStringLiteral("user"), "PGUSER");
    add(QStringLiteral("password"), "PGPASSWORD");
    if (expiration)
        object.insert(QStringLiteral("expiration"), expiration->toUTC().toString(Qt::ISODate));
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
