#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

// A fuzz input cut into fields at each 0x01 byte; a missing field reads as empty. Lets one
// byte string drive several arguments while keeping any other byte, NUL included, in play.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size)
        : m_fields(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\x01'))
    {
    }

    QByteArray field(qsizetype index) const { return m_fields.value(index); }
    qsizetype count() const { return m_fields.size(); }

private:
    QList<QByteArray> m_fields;
};

// A property every input must keep: breaking it is a finding, as a crash is.
inline void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
