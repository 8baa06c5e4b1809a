#pragma once

#include "ScopedEnv.h"

#include <QByteArray>
#include <QTemporaryDir>

// A desktop opener for tests: while it lives, PATH holds only an "xdg-open" that runs
// `script` (a POSIX shell body; "$1" is the URL) after recording its URL, so nothing leaves
// the test. The URL is recorded only if the opener's output is discarded. Without a script there is
// no opener at all.
class RecordingOpener {
public:
    explicit RecordingOpener(const QByteArray &script = "exit 0\n");
    // The URL the opener was started with, as it received it; empty until then.
    QByteArray openedURL() const;
    // Where the script may leave files of its own.
    QString path(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_path;
};
