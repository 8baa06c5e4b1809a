#pragma once

#include "CredentialsSource.h"

#include <QProcess>
#include <QTimer>

#include <chrono>

// A profile's credential_process: the command, split into words as a POSIX shell splits
// them, runs without a shell; its standard output must be one JSON object with Version 1,
// AccessKeyId, SecretAccessKey and optionally SessionToken. Any failure is an alert that
// quotes the command's standard error, never its standard output, which holds the secret.
// The command and whatever it starts form a process group that cancel(), the time limit and
// the source's end kill.
class ProcessCredentialsSource : public CredentialsSource {
    Q_OBJECT
public:
    static constexpr qsizetype maxOutputSize = 1024 * 1024;

    ProcessCredentialsSource(QString profile,
        QString command,
        std::chrono::milliseconds timeLimit = std::chrono::seconds(60));
    ~ProcessCredentialsSource() override;

protected:
    void start() override;
    // Kills the running command.
    void stop() override;

private:
    void kill(QString reason);
    void killGroup();
    void finished(int exitCode, QProcess::ExitStatus exitStatus);
    void fail(const QString &reason);

    QString m_profile;
    QString m_command;
    std::chrono::milliseconds m_timeLimit;
    QProcess m_process;
    QTimer m_timer;
    QByteArray m_output;
    QByteArray m_errors;
    QString m_stopReason; // why the command was killed, if it was
};
