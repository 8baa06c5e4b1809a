#include "PsqlCommand.h"

#include "DisplayedText.h"

namespace {

// The libpq key words that a link may set, matched exactly, as libpq matches them. Any link in
// any application reaches this handler: it may name the server and how to greet it, but never
// another address for the host (hostaddr would send the host's ~/.pgpass password elsewhere),
// a password, password file or service entry, nor what the session runs (options).
const QStringList linkKeywords {
    QStringLiteral("sslmode"),
    QStringLiteral("sslrootcert"),
    QStringLiteral("connect_timeout"),
    QStringLiteral("application_name"),
    QStringLiteral("client_encoding"),
    QStringLiteral("target_session_attrs"),
    QStringLiteral("keepalives"),
    QStringLiteral("keepalives_idle"),
    QStringLiteral("keepalives_interval"),
    QStringLiteral("keepalives_count"),
    QStringLiteral("tcp_user_timeout"),
};

QByteArray percentDecoded(const QString &text)
{
    return QByteArray::fromPercentEncoding(text.toUtf8());
}

} // namespace

std::optional<PsqlCommand> PsqlCommand::forURL(const QString &url)
{
    // Split by hand, as libpq reads it: QUrl refuses libpq's "host1:5432,host2:5433" lists.
    // The parts kept are passed on exactly as written.
    const qsizetype schemeEnd = url.indexOf(u"://");
    const QString scheme = url.first(std::max<qsizetype>(schemeEnd, 0));
    if (scheme != u"postgres" && scheme != u"postgresql")
        return std::nullopt;

    PsqlCommand command;
    const qsizetype queryStart = url.indexOf(u'?');
    QString base = url.first(queryStart < 0 ? url.size() : queryStart);
    const qsizetype authorityStart = schemeEnd + 3;
    const qsizetype authorityEnd = base.indexOf(u'/', authorityStart);
    const qsizetype at
        = base.first(authorityEnd < 0 ? base.size() : authorityEnd).indexOf(u'@', authorityStart);
    const qsizetype colon = at < 0 ? -1 : base.first(at).indexOf(u':', authorityStart);
    if (colon >= 0) {
        command.password = percentDecoded(base.sliced(colon + 1, at - colon - 1));
        base.remove(colon, at - colon);
    }

    QStringList kept;
    QStringList refused;
    const QStringList items
        = queryStart < 0 ? QStringList() : url.sliced(queryStart + 1).split(u'&');
    for (const QString &item : items) {
        if (item.isEmpty())
            continue;
        const qsizetype equals = item.indexOf(u'=');
        const QString name
            = QString::fromUtf8(percentDecoded(equals < 0 ? item : item.first(equals)));
        const QByteArray value
            = equals < 0 ? QByteArray() : percentDecoded(item.sliced(equals + 1));
        if (equals >= 0 && name == u"ssl" && value.compare("true", Qt::CaseInsensitive) == 0)
            kept.append(QStringLiteral("sslmode=require")); // JDBC's; libpq takes "true" only
        else if (equals >= 0 && linkKeywords.contains(name))
            kept.append(item);
        else
            refused.append(displayedText(name, 60));
    }
    if (!command.password || command.password->isEmpty())
        command.password.reset();

    command.arguments
        = QStringList { base + (kept.isEmpty() ? QString() : u'?' + kept.join(u'&')) };
    refused.removeDuplicates();
    if (!refused.isEmpty())
        command.notices.append(QStringLiteral("left out what a link may not set: ")
            + refused.join(QStringLiteral(", ")));
    return command;
}
