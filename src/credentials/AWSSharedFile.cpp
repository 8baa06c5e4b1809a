#include "AWSSharedFile.h"

#include "ShellWords.h"

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The text before an inline comment: a # or ; that follows a blank.
QStringView withoutInlineComment(QStringView text)
{
    for (qsizetype i = 1; i < text.size(); ++i) {
        if ((text[i] == u'#' || text[i] == u';') && isBlank(text[i - 1]))
            return text.first(i);
    }
    return text;
}

} // namespace

AWSSharedFile AWSSharedFile::parse(QStringView text, Kind kind)
{
    AWSSharedFile file;
    Settings *section = nullptr;
    QString key; // the key that indented lines continue, if any
    qsizetype keyIndent = 0;
    bool nested = false; // the lines under `key` are nested settings, skipped
    for (QStringView line : text.split(u'\n')) {
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#') || trimmed.startsWith(u';'))
            continue;
        qsizetype indent = 0;
        while (isBlank(line[indent]))
            ++indent;
        if (section && !key.isNull() && indent > keyIndent) {
            if (!nested && section->value(key).isEmpty()) {
                nested = true;
                section->remove(key);
            }
            if (!nested)
                (*section)[key] += u'\n' + withoutInlineComment(trimmed).trimmed().toString();
            continue;
        }
        key = QString();

        const QStringView content = withoutInlineComment(trimmed).trimmed();
        if (content.startsWith(u'[')) {
            section = nullptr;
            if (!content.endsWith(u']'))
                continue;
            const QString header = content.sliced(1, content.size() - 2).trimmed().toString();
            if (kind == Kind::Credentials) {
                section = &file.profiles[header];
            } else if (header == u"default") {
                section = &file.profiles[header];
            } else {
                const QStringList words = ShellWords::split(header).value_or(QStringList());
                if (words.size() == 2 && words[0] == u"profile")
                    section = &file.profiles[words[1]];
                else if (words.size() == 2 && words[0] == u"sso-session")
                    section = &file.ssoSessions[words[1]];
            }
            continue;
        }
        if (!section)
            continue;
        qsizetype delimiter = content.indexOf(u'=');
        const qsizetype colon = content.indexOf(u':');
        if (colon >= 0 && (delimiter < 0 || colon < delimiter))
            delimiter = colon;
        const QString name = content.first(std::max<qsizetype>(delimiter, 0)).trimmed().toString();
        if (name.isEmpty())
            continue;
        key = name.toLower();
        keyIndent = indent;
        nested = false;
        section->insert(key, content.sliced(delimiter + 1).trimmed().toString());
    }
    return file;
}
