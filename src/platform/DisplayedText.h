#pragma once

#include <QString>

// Text from outside (a pasted URL, a service's message, another program's output) as an
// alert or the terminal may show it: control characters percent-encoded, so that no escape
// sequence reaches a terminal and nothing vanishes from a label, and cut after `maxLength`
// characters with an ellipsis.
QString displayedText(const QString &text, qsizetype maxLength = 400);

// Pasted text as an alert may quote it: the value of every query item that carries a secret
// (SecretAccessKey or SessionToken, the name in any case, possibly percent-encoded) replaced
// by "***", then displayedText.
QString displayedURLText(const QString &text);

// Whether `text` holds any Unicode blank: the URL parser would percent-encode a no-break or
// ideographic space where an ASCII one makes the text malformed, and a URL with blanks is
// never what was meant.
bool containsBlank(const QString &text);
