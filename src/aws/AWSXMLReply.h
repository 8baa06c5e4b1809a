#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

// The text of an AWS XML reply, element by element, read within fixed bounds so that a
// hostile or broken reply costs little. Names are as written, prefix included (no namespace
// processing); an element gathers the text of its whole subtree, CDATA left out; the latest
// element of a name wins.
struct AWSXMLReply {
    QHash<QString, QString> elementContents;
    // The names of the elements still open where reading stopped: all closed when the body
    // was a whole document.
    QSet<QString> openElements;

    // All text gathered, counted once per element that holds it, stays within this; reading
    // stops before a piece of text that would pass it (nesting multiplies what is kept).
    static constexpr qsizetype maxGatheredCharacters = 8 * 1024 * 1024;

    // Reads `body` once; a malformed body keeps what came before the break.
    static AWSXMLReply read(const QByteArray &body);

    // The text of the latest element named `name`, absent when there is none.
    std::optional<QString> contents(const QString &name) const;
    // The same, but absent too when that element never closed: what was gathered is then
    // not the whole value.
    std::optional<QString> completeContents(const QString &name) const;
};
