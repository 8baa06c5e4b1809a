#include "DesktopOpener.h"

#include <QList>
#include <QProcess>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
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

// Helpers (the opener, the default-handler query) still running once they were no longer
// waited for. Kept until they end, since destroying a QProcess kills it; never destroyed
// itself, so that what it holds at exit stays reachable and leak checkers do not count it.
QList<QProcess *> &runningHelpers = *new QList<QProcess *>();

QProcess *newHelper(const QString &program, const QStringList &arguments)
{
    auto *process = new QProcess();
    process->setProgram(program);
    process->setArguments(arguments);
    // No AWS key, token or setting: nothing that opens a URL needs them.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(u"AWS_"))
            environment.remove(name);
    }
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
#if defined(Q_OS_UNIX)
    // A session of its own, without our controlling terminal: xdg-open would otherwise run a
    // handler that asks for a terminal (such as psql's) right there, on the null device; and
    // a Ctrl-C meant for iamlink-cli reaches neither.
    process->setChildProcessModifier([] { ::setsid(); });
#endif
    runningHelpers.append(process);
    return process;
}

void release(QProcess *process)
{
    runningHelpers.removeOne(process);
    process->deleteLater();
}

void launch(const QUrl &url,
    const std::optional<QByteArray> &password,
    DesktopServices::OpenAnswer answered)
{
    QProcess *process = newHelper(opener, { QString::fromUtf8(url.toEncoded()) });
    // xdg-open repeats a URL that it cannot open, password included.
    process->setStandardOutputFile(QProcess::nullDevice());
    if (password) {
        QProcessEnvironment environment = process->processEnvironment();
        environment.insert(QStringLiteral("PGPASSWORD"), QString::fromUtf8(*password));
        process->setProcessEnvironment(environment);
    }

    // Exactly one answer: the first of a start failure, the exit or the timer.
    auto answer = std::make_shared<DesktopServices::OpenAnswer>(std::move(answered));
    const auto reply = [answer](const std::optional<QString> &problem) {
        if (auto done = std::exchange(*answer, nullptr))
            done(problem);
    };
    QObject::connect(
        process, &QProcess::errorOccurred, process, [reply, process](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            reply(opener + QStringLiteral(", the desktop's URL opener, could not be started"));
            release(process);
        });
    QObject::connect(process, &QProcess::finished, process,
        [reply, process](int exitCode, QProcess::ExitStatus status) {
            if (status == QProcess::NormalExit && exitCode == 0)
                reply(std::nullopt);
            else
                reply(opener
                    + QStringLiteral(" found no application for it (exit status %1)")
                          .arg(status == QProcess::NormalExit ? exitCode : -1));
            release(process);
        });
    QTimer::singleShot(DesktopOpener::answerTimeMs, process, [reply] { reply(std::nullopt); });
    process->start();
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
const QString shippedHandler = QStringLiteral("io.github.iamlink.iamlink-psql.desktop");
// xdg-mime answers in some tens of milliseconds; one that has not answered by this is taken as a
// no.
constexpr int handlerQueryTimeMs = 3000;

// Whether the desktop entry that xdg-open's own lookup (xdg-mime) finds for the scheme is the
// handler that comes with iamlink. Any failure is a no.
void askIfShippedHandler(const QString &scheme, std::function<void(bool)> answered)
{
    QProcess *query = newHelper(QStringLiteral("xdg-mime"),
        { QStringLiteral("query"), QStringLiteral("default"),
            QStringLiteral("x-scheme-handler/") + scheme });
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(answered));
    const auto reply = [answer](bool ours) {
        if (auto done = std::exchange(*answer, nullptr))
            done(ours);
    };
    QObject::connect(
        query, &QProcess::errorOccurred, query, [reply, query](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            reply(false);
            release(query);
        });
    QObject::connect(query, &QProcess::finished, query,
        [reply, query](int exitCode, QProcess::ExitStatus status) {
            reply(status == QProcess::NormalExit && exitCode == 0
                && query->readAllStandardOutput().trimmed() == shippedHandler.toUtf8());
            release(query);
        });
    QTimer::singleShot(handlerQueryTimeMs, query, [reply, query] {
        reply(false);
        query->kill();
    });
    query->start(QIODevice::ReadOnly);
}
#endif

} // namespace

void DesktopOpener::open(const QUrl &url, DesktopServices::OpenAnswer answered)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The shipped handler takes a postgres: URL's password from PGPASSWORD, so that it is on
    // no command line: not xdg-open's, the terminal's nor the handler's. Any other handler
    // gets the URL as it is.
    const QString scheme = url.scheme();
    const QByteArray password
        = QByteArray::fromPercentEncoding(url.password(QUrl::FullyEncoded).toUtf8());
    // A password that no environment variable can hold stays in the URL.
    if ((scheme == u"postgres" || scheme == u"postgresql") && !password.isEmpty()
        && !password.contains('\0') && QString::fromUtf8(password).toUtf8() == password) {
        askIfShippedHandler(scheme, [url, password, answered = std::move(answered)](bool ours) {
            if (!ours)
                return launch(url, std::nullopt, answered);
            QUrl withoutPassword = url;
            withoutPassword.setPassword({});
            launch(withoutPassword, password, answered);
        });
        return;
    }
#endif
    launch(url, std::nullopt, std::move(answered));
}
