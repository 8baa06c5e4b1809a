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

// Helpers (the opener, the default-handler query) still running. Kept until they end, since
// destroying a QProcess kills it; never destroyed itself, so that what it holds at exit stays
// reachable and leak checkers do not count it.
QList<QProcess *> &runningHelpers = *new QList<QProcess *>();

// How a helper ended for the one waiting on it: its exit status (-1 when it crashed), or none
// when it could not start; `running` when it still ran after the wait, and was left so.
struct Ending {
    std::optional<int> exitStatus = {};
    bool running = false;
};

// Runs `program` in a session of its own, without our controlling terminal (xdg-open would
// otherwise run a handler that asks for a terminal, such as psql's, right there, on the null
// device; and a Ctrl-C meant for iamlink-cli reaches neither), with our environment less every
// AWS_ variable (nothing that opens a URL needs keys) plus `extra`. `ended` gets the first of
// its start failure, its exit or the end of the wait, and, if `readOutput`, what it wrote to
// standard output; else that goes to the null device, as all its other streams.
void run(const QString &program,
    const QStringList &arguments,
    const QList<std::pair<QString, QString>> &extra,
    int waitMs,
    bool readOutput,
    std::function<void(const Ending &, const QByteArray &output)> ended)
{
    auto *process = new QProcess();
    process->setProgram(program);
    process->setArguments(arguments);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(u"AWS_"))
            environment.remove(name);
    }
    for (const auto &[name, value] : extra)
        environment.insert(name, value);
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    if (!readOutput)
        process->setStandardOutputFile(QProcess::nullDevice());
#if defined(Q_OS_UNIX)
    process->setChildProcessModifier([] { ::setsid(); });
#endif
    runningHelpers.append(process);

    auto answer = std::make_shared<decltype(ended)>(std::move(ended));
    const auto end = [answer, process, readOutput](const Ending &ending) {
        if (auto done = std::exchange(*answer, nullptr))
            done(ending,
                readOutput && !ending.running ? process->readAllStandardOutput() : QByteArray());
        if (!ending.running) {
            runningHelpers.removeOne(process);
            process->deleteLater();
        }
    };
    QObject::connect(
        process, &QProcess::errorOccurred, process, [end](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                end({});
        });
    QObject::connect(
        process, &QProcess::finished, process, [end](int exitCode, QProcess::ExitStatus status) {
            end({ status == QProcess::NormalExit ? exitCode : -1 });
        });
    QTimer::singleShot(waitMs, process, [end] { end({ .running = true }); });
    process->start(QIODevice::ReadOnly);
}

void launch(const QUrl &url,
    const QList<std::pair<QString, QString>> &extra,
    DesktopServices::OpenAnswer answered)
{
    // xdg-open repeats a URL that it cannot open, password included.
    run(opener, { QString::fromUtf8(url.toEncoded()) }, extra, DesktopOpener::answerTimeMs, false,
        [answered = std::move(answered)](const Ending &ending, const QByteArray &) {
            if (ending.running || ending.exitStatus == 0)
                answered(std::nullopt);
            else if (!ending.exitStatus)
                answered(
                    opener + QStringLiteral(", the desktop's URL opener, could not be started"));
            else
                answered(opener
                    + QStringLiteral(" found no application for it (exit status %1)")
                          .arg(*ending.exitStatus));
        });
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
const QString shippedHandler = QStringLiteral("io.github.iamlink.iamlink-psql.desktop");

// Whether the desktop entry that xdg-open's own lookup (xdg-mime) finds for the scheme is the
// handler that comes with iamlink. Any failure, or no answer within 3 s, is a no.
void askIfShippedHandler(const QString &scheme, std::function<void(bool)> answered)
{
    run(QStringLiteral("xdg-mime"),
        { QStringLiteral("query"), QStringLiteral("default"),
            QStringLiteral("x-scheme-handler/") + scheme },
        {}, 3000, true,
        [answered = std::move(answered)](const Ending &ending, const QByteArray &output) {
            answered(ending.exitStatus == 0 && output.trimmed() == shippedHandler.toUtf8());
        });
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
                return launch(url, {}, answered);
            QUrl withoutPassword = url;
            withoutPassword.setPassword({});
            launch(withoutPassword,
                { { QStringLiteral("PGPASSWORD"), QString::fromUtf8(password) } }, answered);
        });
        return;
    }
#endif
    launch(url, {}, std::move(answered));
}
