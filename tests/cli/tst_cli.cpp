#include "RecordingOpener.h"
#include "ScopedEnv.h"
#include "TestCases.h"
#include "TestHttpServer.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

using namespace Qt::StringLiterals;

class TestCli : public QObject {
    Q_OBJECT

    const ScopedEnv m_network { cleanNetwork };
    TestHttpServer m_server;
    ScopedEnv m_endpoint { "AWS_ENDPOINT_URL", m_server.url().toEncoded() };
    QProcess m_process;

    // The child inherits this process's environment, and with it the endpoint and PATH. The
    // server answers on this thread, so the process is awaited with the event loop running.
    void run(const QStringList &arguments, const QByteArray &input, bool interrupt = false)
    {
        const qsizetype requests = m_server.requests().size();
        m_process.start(QStringLiteral(IAMLINK_CLI_PATH), arguments);
        QVERIFY(m_process.waitForStarted());
        m_process.write(input);
        m_process.closeWriteChannel();
        if (interrupt) {
            QTRY_COMPARE(m_server.requests().size(), requests + 1);
            QCOMPARE(::kill(pid_t(m_process.processId()), SIGINT), 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_process.state(), QProcess::NotRunning, 20000);
        QCOMPARE(m_process.exitStatus(), QProcess::NormalExit);
    }

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
        const bool interrupt = row[u"interrupt"].toBool(); // once the service has the request
        if (interrupt)
            m_server.setReply({ .neverAnswer = true });
        run(row[u"args"].toVariant().toStringList(), row[u"input"].toString().toUtf8(), interrupt);

        QCOMPARE(m_process.readAllStandardOutput(), row[u"stdout"].toString().toUtf8());
        QCOMPARE(m_process.readAllStandardError(), row[u"stderr"].toString().toUtf8());
        QCOMPARE(m_process.exitCode(), row[u"exit"].toInt());
        QTRY_COMPARE(opener.openedURL(), row[u"opened"].toString().toUtf8());
        // An opener that was left running is stopped here, by the pid it wrote.
        QFile pid(opener.path(u"xdg-open.pid"_s));
        if (pid.open(QIODevice::ReadOnly))
            QCOMPARE(::kill(pid_t(pid.readAll().trimmed().toInt()), SIGTERM), 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
