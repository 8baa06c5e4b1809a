#include "URLQueryItem.h"

#include <QByteArrayView>

QByteArray awsPercentEncode(const QString &text)
{
    // Qt's default leaves exactly the unreserved set A-Z a-z 0-9 - . _ ~ and writes upper-case
    // hex, which is the encoding SigV4 canonicalises with.
    return text.toUtf8().toPercentEncoding();
}

static QString percentDecoded(QByteArrayView encoded)
{
    // QByteArray::fromPercentEncoding leaves "+" alone, unlike form decoding.
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toByteArray()));
}

std::optional<URLQueryItems> queryItems(const QUrl &url)
{
    if (!url.hasQuery())
        return std::nullopt;
    const QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    URLQueryItems items;
    if (query.isEmpty())
        return items;
    qsizetype start = 0;
    while (start <= query.size()) {
        qsizetype end = query.indexOf('&', start);
        if (end < 0)
            end = query.size();
        const QByteArrayView part = QByteArrayView(query).sliced(start, end - start);
        const qsizetype equals = part.indexOf('=');
        if (equals < 0)
            items.append({ percentDecoded(part), std::nullopt });
        else
            items.append(
                { percentDecoded(part.first(equals)), percentDecoded(part.sliced(equals + 1)) });
        start = end + 1;
    }
    return items;
}

QByteArray encodedQuery(const URLQueryItems &items)
{
    QByteArray query;
    for (const URLQueryItem &item : items) {
        // Separate by position, not by what was written: an item can be empty.
        if (&item != &items.first())
            query += '&';
        query += awsPercentEncode(item.name);
        if (item.value) {
            query += '=';
            query += awsPercentEncode(*item.value);
        }
    }
    return query;
}

void setQueryItems(QUrl &url, const URLQueryItems &items)
{
    // StrictMode keeps every escape exactly as written; TolerantMode would be free to
    // normalise them.
    url.setQuery(QString::fromLatin1(encodedQuery(items)), QUrl::StrictMode);
}
