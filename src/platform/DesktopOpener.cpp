#include "DesktopOpener.h"

#include <QList>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <utility>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace {

#if defined(Q_OS_MACOS)
const QString opener = QStringLiteral("open");
#else
const QString opener = QStringLiteral("xdg-open");
#endif

// Openers still running once they were taken to have handed the URL on. Kept until they end,
// since destroying a QProcess kills it; never destroyed itself, so that what it holds at exit
// stays reachable and leak checkers do not count it.
QList<QProcess *> &runningOpeners = *new QList<QProcess *>();

} // namespace

void DesktopOpener::open(const QUrl &url, DesktopServices::OpenAnswer answered)
{
    auto *process = new QProcess();
    process->setProgram(opener);
    process->setArguments({ QString::fromUtf8(url.toEncoded()) });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
#if defined(Q_OS_UNIX)
    // A session of its own, without our controlling terminal: xdg-open would otherwise run a
    // handler that asks for a terminal (such as psql's) right there, on the null device.
    process->setChildProcessModifier([] { ::setsid(); });
#endif
    runningOpeners.append(process);

    // Exactly one answer: the first of a start failure, the exit or the timer.
    auto answer = std::make_shared<DesktopServices::OpenAnswer>(std::move(answered));
    const auto reply = [answer](const std::optional<QString> &problem) {
        if (auto done = std::exchange(*answer, nullptr))
            done(problem);
    };
    const auto release = [process] {
        runningOpeners.removeOne(process);
        process->deleteLater();
    };
    QObject::connect(
        process, &QProcess::errorOccurred, process, [reply, release](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            reply(opener + QStringLiteral(", the desktop's URL opener, could not be started"));
            release();
        });
    QObject::connect(process, &QProcess::finished, process,
        [reply, release](int exitCode, QProcess::ExitStatus status) {
            if (status == QProcess::NormalExit && exitCode == 0)
                reply(std::nullopt);
            else
                reply(opener
                    + QStringLiteral(" found no application for it (exit status %1)")
                          .arg(status == QProcess::NormalExit ? exitCode : -1));
            release();
        });
    QTimer::singleShot(answerTimeMs, process, [reply] { reply(std::nullopt); });
    process->start();
}
