#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Splits a command line into words as a POSIX shell does before it runs a simple command:
// blanks separate words; single quotes keep everything up to the next one; double quotes
// keep everything but a backslash before $ ` " \ or a line break; an unquoted backslash
// keeps the next character (and drops a line break). Nothing is expanded: $, ~, globs and
// operators stay as written, since no shell will see them. QProcess::splitCommand knows
// neither single quotes nor backslashes, so a quoted argument would reach the program
// with its quotes or cut in two.
class ShellWords {
public:
    // Absent when a quote is left open.
    static std::optional<QStringList> split(QStringView text);
};
