#pragma once

#include <QString>

#include <initializer_list>

// Fills the running _data function from the section of a case file that starts with the
// line "[section] ...": one QString column per name, then per case a line "== <row tag>"
// followed by one line per column, taken as written except for the escapes \n and \r.
// Other lines are comments or spacing.
void addTestCaseRows(
    const QString &path, const QString &section, std::initializer_list<const char *> columns);
