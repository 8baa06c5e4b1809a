#include "URLRequest.h"

URLRequest::URLRequest(QUrl url)
    : url(std::move(url))
{
}

void URLRequest::addValue(const QString &value, const QString &field)
{
    for (HeaderField &existing : m_headerFields) {
        if (existing.first.compare(field, Qt::CaseInsensitive) == 0) {
            existing.second += u',';
            existing.second += value;
            return;
        }
    }
    m_headerFields.append({ field, value });
}

std::optional<QString> URLRequest::value(const QString &field) const
{
    for (const HeaderField &existing : m_headerFields) {
        if (existing.first.compare(field, Qt::CaseInsensitive) == 0)
            return existing.second;
    }
    return std::nullopt;
}
