#include "ProcessCredentialsSource.h"

#include "DisplayedText.h"
#include "ShellWords.h"

#include <QJsonDocument>
#include <QJsonObject>

#if defined(Q_OS_UNIX)
#include <csignal>
#include <unistd.h>
#endif

namespace {

// Enough of standard error to explain a failure: alerts cut it much shorter.
constexpr qsizetype maxErrorSize = 4096;

// The keys in the command's output, or what is wrong with it.
std::variant<AWSCredentials, QString> credentialsIn(const QByteArray &output)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(output, &error);
    if (!document.isObject())
        return QStringLiteral("wrote no JSON object to its standard output");
    const QJsonObject object = document.object();
    if (object[u"Version"] != QJsonValue(1))
        return QStringLiteral("wrote an output whose Version is not 1");
    const QString keyId = object[u"AccessKeyId"].toString();
    const QString secret = object[u"SecretAccessKey"].toString();
    if (keyId.isEmpty() || secret.isEmpty())
        return QStringLiteral("wrote no AccessKeyId and SecretAccessKey");
    const QString token = object[u"SessionToken"].toString();
    return AWSCredentials { keyId, secret, token.isEmpty() ? std::nullopt : std::optional(token) };
}

} // namespace

ProcessCredentialsSource::ProcessCredentialsSource(
    QString profile, QString command, std::chrono::milliseconds timeLimit)
    : m_profile(std::move(profile))
    , m_command(std::move(command))
    , m_timeLimit(timeLimit)
{
    // As the AWS CLI runs it: the terminal's input stays available to a command that asks.
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);
#if defined(Q_OS_UNIX)
    // A session of its own, and so a process group of its own that a cancel, the time limit
    // or our end kills whole, a script's children too. A mere background group would be
    // stopped (SIGTTIN) by reading the terminal, our forwarded input, until the time limit;
    // outside the terminal's session that read works, /dev/tty cannot be opened (a command
    // that asks there fails at once instead of hanging) and the terminal's Ctrl-C reaches
    // only iamlink, which then cancels.
    m_process.setChildProcessModifier([] { ::setsid(); });
#endif
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        kill(QStringLiteral("did not finish within %1 s and was stopped")
                 .arg(double(m_timeLimit.count()) / 1000));
    });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
        m_output += m_process.readAllStandardOutput();
        if (m_output.size() > maxOutputSize)
            kill(QStringLiteral("wrote more than 1 MiB to its standard output"));
    });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        m_errors += m_process.readAllStandardError().left(maxErrorSize - m_errors.size());
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QStringLiteral("could not be started: %1")
                     .arg(displayedText(m_process.errorString())));
    });
    connect(&m_process, &QProcess::finished, this, &ProcessCredentialsSource::finished);
}

ProcessCredentialsSource::~ProcessCredentialsSource()
{
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        killGroup();
        m_process.waitForFinished(1000);
    }
}

void ProcessCredentialsSource::start()
{
    const std::optional<QStringList> words = ShellWords::split(m_command);
    if (!words || words->isEmpty()) {
        finishLater(Alert { QStringLiteral("AWS credential process failed"),
            QStringLiteral("The credential_process of the profile \"%1\" has an unclosed quote "
                           "or nothing to run.")
                .arg(displayedText(m_profile)) });
        return;
    }
    m_process.setProgram(words->first());
    m_process.setArguments(words->sliced(1));
    m_timer.start(m_timeLimit);
    m_process.start(QIODevice::ReadOnly);
}

void ProcessCredentialsSource::stop()
{
    // The outcome after a cancel is the cancelled alert: this reason only marks the kill.
    kill(QStringLiteral("was cancelled"));
}

void ProcessCredentialsSource::kill(QString reason)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_stopReason = std::move(reason);
    killGroup();
}

void ProcessCredentialsSource::killGroup()
{
#if defined(Q_OS_UNIX)
    // While the command has not been waited for, its id names no other process or group.
    if (const qint64 pid = m_process.processId(); pid > 0)
        ::kill(-pid_t(pid), SIGKILL);
#endif
    // The command itself too: it may not have made its group yet.
    m_process.kill();
}

void ProcessCredentialsSource::finished(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_timer.stop();
    m_output += m_process.readAllStandardOutput();
    m_errors += m_process.readAllStandardError().left(maxErrorSize - m_errors.size());
    if (!m_stopReason.isEmpty())
        return fail(m_stopReason);
    if (exitStatus != QProcess::NormalExit)
        return fail(QStringLiteral("ended abnormally"));
    if (exitCode != 0)
        return fail(QStringLiteral("exited with status %1").arg(exitCode));
    if (m_output.size() > maxOutputSize)
        return fail(QStringLiteral("wrote more than 1 MiB to its standard output"));
    const auto credentials = credentialsIn(m_output);
    if (const QString *problem = std::get_if<QString>(&credentials))
        return fail(*problem);
    finish(std::get<AWSCredentials>(credentials));
}

void ProcessCredentialsSource::fail(const QString &reason)
{
    m_timer.stop();
    QString text = QStringLiteral("The credential_process of the profile \"%1\" (%2) %3.")
                       .arg(displayedText(m_profile), displayedText(m_process.program()), reason);
    const QString errors = QString::fromUtf8(m_errors).trimmed();
    if (!errors.isEmpty())
        text += QStringLiteral("\nIts standard error: ") + displayedText(errors);
    // Posted: a command that cannot start may say so inside start().
    finishLater(Alert { QStringLiteral("AWS credential process failed"), text });
}
