#include "ShellWords.h"

std::optional<QStringList> ShellWords::split(QStringView text)
{
    QStringList words;
    QString word;
    bool inWord = false; // a word has begun, though it may be empty: ''
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        // A line continuation is removed before words are split, so it joins what it parts.
        if (c == u'\\' && i + 1 < size && text[i + 1] == u'\n') {
            ++i;
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            // As the shells do, a backslash that ends the text stands for itself.
            word += ++i < size ? text[i] : c;
        } else if (c == u'\'') {
            const qsizetype end = text.indexOf(u'\'', i + 1);
            if (end < 0)
                return std::nullopt;
            word += text.sliced(i + 1, end - i - 1);
            i = end;
        } else if (c == u'"') {
            for (++i;; ++i) {
                if (i == size)
                    return std::nullopt;
                if (text[i] == u'"')
                    break;
                if (text[i] == u'\\' && i + 1 < size
                    && QStringView(u"$`\"\\\n").contains(text[i + 1])) {
                    if (text[++i] != u'\n')
                        word += text[i];
                } else {
                    word += text[i];
                }
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}
