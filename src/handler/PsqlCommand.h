#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// How iamlink-psql runs psql for a postgres: URL. The password leaves the URL for PGPASSWORD,
// since other users can read command lines. Of the query, only the libpq key words that a link
// may set are kept: any link reaches this handler, and libpq refuses a whole URL for one
// unknown item.
struct PsqlCommand {
    QStringList arguments; // psql's arguments: the URL without its password
    std::optional<QByteArray> password; // for PGPASSWORD; absent when the user part has none
    QStringList notices; // one line each, never holding a value from the URL

    // Absent unless `url` is a postgres:// or postgresql:// URL, the two forms libpq reads.
    static std::optional<PsqlCommand> forURL(const QString &url);
};
