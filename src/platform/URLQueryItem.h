#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One item of a URL query: a name and a value that is absent when the item has no "=".
struct URLQueryItem {
    QString name;
    std::optional<QString> value;

    friend bool operator==(const URLQueryItem &, const URLQueryItem &) = default;
};

using URLQueryItems = QList<URLQueryItem>;

// The AWS Signature Version 4 URI encoding of the UTF-8 bytes of `text`: every byte except
// A-Z a-z 0-9 - _ . ~ becomes %XX with upper-case hex (a space is %20, never "+").
// Used both to write a request's query and to canonicalise it for signing, so that the
// signed query is the query that is sent.
QByteArray awsPercentEncode(const QString &text);

// The query items of `url` in URL order, names and values percent-decoded; a "+" stays a
// "+". Absent when the URL has no query at all; an empty list for a URL ending in "?".
std::optional<URLQueryItems> queryItems(const QUrl &url);

// The query text for `items`, in list order: name, "=" and value (the name alone when the
// value is absent), joined by "&", names and values written with awsPercentEncode.
QByteArray encodedQuery(const URLQueryItems &items);

// Replaces the query of `url` with encodedQuery(items), keeping its escapes as written.
void setQueryItems(QUrl &url, const URLQueryItems &items);
