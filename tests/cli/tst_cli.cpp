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

    void shouldHandURLToDesktopOpener_data()
    {
        QTest::addColumn<QByteArray>("script"); // the opener's body; "$1" is the URL
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("error");

        QTest::newRow("no opener") << QByteArray() << 1
                                   << "iamlink-cli: could not start xdg-open to open the URL; "
                                      "--print writes it instead\n"_ba;
        // What xdg-open does without a handler: the URL on standard error, status 3.
        QTest::newRow("opener fails") << "echo \"no method available for opening '$1'\" >&2\n"
                                         "printf '%s' \"$1\" > \"$0.opened\"\nexit 3\n"_ba
                                      << 1
                                      << "iamlink-cli: xdg-open could not open the URL (exit "
                                         "status 3); --print writes it instead\n"_ba;
        QTest::newRow("opener answers")
            << "printf '%s' \"$1\" > \"$0.opened\"\n"_ba << 0 << QByteArray();
        // As xdg-open does while the handler it started runs: left running, not waited for.
        QTest::newRow("opener keeps running")
            << "echo $$ > \"$0.pid\"\nprintf '%s' \"$1\" > \"$0.opened\"\nexec /bin/sleep 30\n"_ba
            << 0 << QByteArray();
    }

    void shouldHandURLToDesktopOpener()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, error);

        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        ScopedEnv path("PATH", bin.path().toUtf8());
        const QString openerPath = bin.filePath(u"xdg-open"_s);
        if (!script.isEmpty()) {
            QFile opener(openerPath);
            QVERIFY(opener.open(QIODevice::WriteOnly));
            opener.write("#!/bin/sh\n" + script);
            opener.close();
            QVERIFY(opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        run({}, iamURL.toUtf8());
        // Nothing of the URL on the terminal, from us or the opener: it carries the password.
        QCOMPARE(m_process->readAllStandardError(), error);
        QCOMPARE(m_process->readAllStandardOutput(), QByteArray());
        QCOMPARE(m_process->exitCode(), exitCode);
        if (script.isEmpty())
            return;
        const auto written = [&openerPath] {
            QFile file(openerPath + u".opened"_s);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(written(), connectionURL, 10000);
        QFile pid(openerPath + u".pid"_s);
        if (pid.open(QIODevice::ReadOnly))
            QCOMPARE(::kill(pid_t(pid.readAll().trimmed().toInt()), SIGTERM), 0);
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
