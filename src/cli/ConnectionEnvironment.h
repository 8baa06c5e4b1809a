#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>

// The connection of a postgres:// URL in the environment variables that libpq reads (PGHOST,
// PGPORT, PGDATABASE, PGUSER, PGPASSWORD, and PGSSLMODE, PGSSLROOTCERT, PGCONNECT_TIMEOUT,
// PGAPPNAME, PGCLIENTENCODING, PGTARGETSESSIONATTRS for those query items), so that a command
// gets the password without it being on any command line. A query item with no variable here
// is left out; JDBC's ssl=true is sslmode=require, as iamlink-psql reads it.
class ConnectionEnvironment {
public:
    using Variable = std::pair<QByteArray, QString>;

    // Absent unless `url` is a postgres:// or postgresql:// URL.
    static std::optional<ConnectionEnvironment> forURL(const QUrl &url);

    // Each variable once, with the value that counts (a later query item wins), in libpq's order.
    const QList<Variable> &variables() const { return m_variables; }
    // The names of the query items left out, each once, as they may be shown.
    const QStringList &leftOut() const { return m_leftOut; }

    // One `export NAME='value'` line per variable, quoted for a POSIX shell.
    QByteArray shellExports() const;
    // One JSON object and a line break: url, host, port, database, user, password and, when
    // known, expiration (UTC, ISO 8601); a part the URL lacks is left out.
    QByteArray json(const std::optional<QDateTime> &expiration) const;

private:
    void set(const QByteArray &name, const QString &value);

    QUrl m_url;
    QList<Variable> m_variables;
    QStringList m_leftOut;
};
