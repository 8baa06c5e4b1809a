#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>

// An HTTP request as a value: method, URL, header fields in the order they were added
// (names compare without regard to case) and an optional body.
class URLRequest {
public:
    using HeaderField = std::pair<QString, QString>;

    URLRequest() = default;
    explicit URLRequest(QUrl url);

    QString method;
    QUrl url;
    std::optional<QByteArray> body;

    // Appends `value` to the field named `field` (any case), joined by a comma, or adds the
    // field when the request has none of that name. Never replaces.
    void addValue(const QString &value, const QString &field);
    // The value of the field named `field` (any case), absent when there is none.
    std::optional<QString> value(const QString &field) const;
    // Every field in the order of first addition, names as first written.
    const QList<HeaderField> &headerFields() const { return m_headerFields; }

    friend bool operator==(const URLRequest &, const URLRequest &) = default;

private:
    QList<HeaderField> m_headerFields;
};
