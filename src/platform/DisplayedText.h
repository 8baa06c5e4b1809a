#pragma once

#include <QString>

// Text from outside (a pasted URL, a service's message, another program's output) as an
// alert or the terminal may show it: control characters percent-encoded, so that no escape
// sequence reaches a terminal and nothing vanishes from a label, and cut after `maxLength`
// characters with an ellipsis.
QString displayedText(const QString &text, qsizetype maxLength = 400);
