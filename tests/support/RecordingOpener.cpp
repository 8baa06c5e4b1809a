#include "RecordingOpener.h"

#include <QFile>

RecordingOpener::RecordingOpener(const QByteArray &script)
    : m_path("PATH", m_dir.path().toUtf8())
{
    if (script.isEmpty())
        return;
    QFile opener(m_dir.filePath(QStringLiteral("xdg-open")));
    if (opener.open(QIODevice::WriteOnly))
        // The URL is recorded only when the opener's output goes nowhere, as it must.
        opener.write("#!/bin/sh\nu=\"$1\"\n"
                     "[ \"$(/usr/bin/readlink /proc/$$/fd/1 /proc/$$/fd/2)\" = \"$(printf "
                     "'/dev/null\\n/dev/null')\" ]"
                     " || u='output not discarded'\n"
                     "printf '%s' \"$u\" > \"$0.url.part\" && /bin/mv \"$0.url.part\" \"$0.url\"\n"
            + script);
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
}

QByteArray RecordingOpener::openedURL() const
{
    QFile file(m_dir.filePath(QStringLiteral("xdg-open.url")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
