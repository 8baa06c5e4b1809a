#pragma once

#include "ScopedEnv.h"

#include <QFile>
#include <QTemporaryDir>

// A desktop opener for tests: while it lives, PATH holds only an "xdg-open" that runs
// `script` (a POSIX shell body; "$1" is the URL) after recording its URL, so nothing leaves
// the test. The URL is recorded only if the opener's output is discarded. Without a script
// there is no opener at all.
class RecordingOpener {
public:
    explicit RecordingOpener(const QByteArray &script = "exit 0\n")
    {
        QFile opener(m_dir.filePath(QStringLiteral("xdg-open")));
        if (script.isEmpty() || !opener.open(QIODevice::WriteOnly))
            return;
        opener.write("#!/bin/sh\nu=\"$1\"\n"
                     "[ \"$(/usr/bin/readlink /proc/$$/fd/1 /proc/$$/fd/2)\" = \"$(printf "
                     "'/dev/null\\n/dev/null')\" ] || u='output not discarded'\n"
                     "printf '%s' \"$u\" > \"$0.url.part\" && /bin/mv \"$0.url.part\" \"$0.url\"\n"
            + script);
        opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }

    // The URL the opener was started with, as it received it; empty until then.
    QByteArray openedURL() const
    {
        QFile file(m_dir.filePath(QStringLiteral("xdg-open.url")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_path { "PATH", m_dir.path().toUtf8() };
};
