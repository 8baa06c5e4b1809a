#pragma once

#include <QString>

// What the connect flow makes of pasted text before it trusts it as a URL.
namespace PastedText {

// Whether `text` holds any Unicode blank: the URL parser would percent-encode a no-break or
// ideographic space where an ASCII one makes the text malformed, and a URL with blanks is
// never what was meant.
bool containsBlank(const QString &text);

// Pasted text as an alert may quote it: the password of a user part, and the value of every
// query item whose name (any case, possibly percent-encoded) holds "password", "secret" or
// "token", replaced by "***"; then as displayedText shows text.
QString displayedURL(const QString &text);

} // namespace PastedText
