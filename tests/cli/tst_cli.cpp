#include "RecordingOpener.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"

#include <QtTest>

#include <csignal>

using namespace Qt::StringLiterals;

class TestCli : public QObject {
    Q_OBJECT

    const ScopedEnv m_clean { cleanEnvironment() };
    TestHttpServer m_server;
    ScopedEnv m_endpoint { "AWS_ENDPOINT_URL", m_server.url().toEncoded() };

private Q_SLOTS:
    void init()
    {
        m_server.setReply(
            { 200, {}, "<R><DbUser>IAM:alice</DbUser><DbPassword>p/w@:#</DbPassword></R>" });
    }

    void shouldRun_data() { addTestCaseRows(QFINDTESTDATA("cli-cases.json")); }

    void shouldRun()
    {
        QFETCH(QJsonObject, row);
        const RecordingOpener opener(row[u"opener"].toString(u"exit 0\n"_s).toUtf8());
        // The child inherits this process's environment, and with it the endpoint and PATH. The
        // server answers on this thread, so the process is awaited with the event loop running.
        // A row that interrupts (with SIGINT, SIGTERM or SIGHUP) does so once the silent service
        // has the request.
        const QString interrupt = row[u"interrupt"].toString();
        const qsizetype requests = m_server.requests().size();
        if (!interrupt.isEmpty())
            m_server.setReply({ .neverAnswer = true });
        QProcess process;
        process.start(QStringLiteral(IAMLINK_CLI_PATH), row[u"args"].toVariant().toStringList());
        QVERIFY(process.waitForStarted());
        process.write(row[u"input"].toString().toUtf8());
        process.closeWriteChannel();
        if (!interrupt.isEmpty()) {
            QTRY_COMPARE(m_server.requests().size(), requests + 1);
            const int signal = interrupt == u"TERM" ? SIGTERM
                : interrupt == u"HUP"               ? SIGHUP
                                                    : SIGINT;
            QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 20000);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);

        QCOMPARE(process.readAllStandardOutput(), row[u"stdout"].toString().toUtf8());
        QCOMPARE(process.readAllStandardError(), row[u"stderr"].toString().toUtf8());
        QCOMPARE(process.exitCode(), row[u"exit"].toInt());
        QTRY_COMPARE(opener.openedURL(), row[u"opened"].toString().toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
