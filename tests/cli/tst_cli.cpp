#include "CredentialsEndpoint.h"
#include "TestCaseFile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString iamURL
    = CredentialsEndpoint::iamURL(CredentialsEndpoint::keys + u"&DbUser=alice&sslmode=require"_s);
// The reply's password holds characters that must be percent-encoded in the user info.
const QByteArray connectionURL = "postgres://IAM%3Aalice:p%2Fw%40:%23@"
    + CredentialsEndpoint::host.toUtf8() + ":5439/dev?sslmode=require";

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_endpoint = std::make_unique<CredentialsEndpoint>();
        m_endpoint->replyCredentials(u"IAM:alice"_s, u"p/w@:#"_s);
        m_process = std::make_unique<QProcess>();
    }

    void cleanup()
    {
        m_process->kill();
        m_process->waitForFinished();
        m_endpoint.reset();
    }

    void shouldRun_data()
    {
        addTestCaseRows(QFINDTESTDATA("cli-cases.txt"), u"cli"_s,
            { "arguments", "input", "exitCode", "output" });
    }

    void shouldRun()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, input);
        QFETCH(QString, exitCode);
        QFETCH(QString, output);

        run(arguments.split(u' ', Qt::SkipEmptyParts), input.toUtf8());
        const bool success = exitCode == u"0";
        QCOMPARE(m_process->readAllStandardOutput(), success ? output.toUtf8() : QByteArray());
        QCOMPARE(m_process->readAllStandardError(), success ? QByteArray() : output.toUtf8());
        QCOMPARE(m_process->exitCode(), exitCode.toInt());
    }

    void shouldHandURLToDesktopOpener()
    {
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        ScopedEnv path("PATH", bin.path().toUtf8());
        run({ iamURL });
        QCOMPARE(m_process->exitCode(), 1);
        // Nothing of the URL, which carries the password.
        QCOMPARE(m_process->readAllStandardError(),
            "iamlink-cli: could not start xdg-open to open the URL; --print writes it instead\n");

        const QString opened = bin.filePath(u"opened"_s);
        QFile opener(bin.filePath(u"xdg-open"_s));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.toUtf8() + "'\n");
        opener.close();
        QVERIFY(opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        run({}, iamURL.toUtf8());
        QCOMPARE(
            m_process->readAllStandardError() + m_process->readAllStandardOutput(), QByteArray());
        QCOMPARE(m_process->exitCode(), 0);
        // The opener runs detached and may finish after iamlink-cli.
        const auto written = [&opened] {
            QFile file(opened);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(written(), connectionURL, 10000);
    }

    void shouldCancelOnInterrupt()
    {
        m_endpoint->neverAnswer();
        start({ u"--print"_s, iamURL });
        QTRY_COMPARE_WITH_TIMEOUT(m_endpoint->server.requests().size(), 1, 10000);
        QVERIFY(::kill(pid_t(m_process->processId()), SIGINT) == 0);
        finish();
        QCOMPARE(m_process->exitCode(), 1);
        QCOMPARE(m_process->readAllStandardOutput(), QByteArray());
        QCOMPARE(m_process->readAllStandardError(),
            "Failed to get credentials from AWS\nThe request was cancelled.\n");
    }

private:
    // The child inherits this process's environment, and with it the endpoint.
    void start(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        m_process->start(QStringLiteral(IAMLINK_CLI_PATH), arguments);
        QVERIFY(m_process->waitForStarted());
        m_process->write(input);
        m_process->closeWriteChannel();
    }

    // The server answers on this thread, so the process is awaited with the event loop running.
    void finish()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_process->state(), QProcess::NotRunning, 20000);
        QCOMPARE(m_process->exitStatus(), QProcess::NormalExit);
    }

    void run(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        start(arguments, input);
        if (!QTest::currentTestFailed())
            finish();
    }

    std::unique_ptr<CredentialsEndpoint> m_endpoint;
    std::unique_ptr<QProcess> m_process;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
