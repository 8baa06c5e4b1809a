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
    // Holds "record", a command that writes its arguments and the libpq variables it was given,
    // then exits with its first argument.
    QTemporaryDir m_bin;
    // A password that expires in 15 minutes, read a moment later.
    const QDateTime m_expiry = QDateTime::currentDateTimeUtc().addSecs(15 * 60 + 20);

    // A row's text with @expiry and @expires written out.
    QString expanded(const QJsonValue &value) const
    {
        const QDateTime local = m_expiry.toLocalTime();
        const QString at = local.toString(
            local.date() == QDate::currentDate() ? u"HH:mm"_s : u"yyyy-MM-dd HH:mm"_s);
        return value.toString()
            .replace(u"@expiry"_s, m_expiry.toString(Qt::ISODate))
            .replace(u"@expires"_s, u"The password expires at %1 (in 15 minutes)."_s.arg(at));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QFile record(m_bin.filePath(u"record"_s));
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write("#!/bin/sh\nprintf '<%s>' \"$@\"; echo\n"
                     "for n in PGHOST PGPORT PGDATABASE PGUSER PGPASSWORD PGSSLMODE PGSSLROOTCERT "
                     "PGCONNECT_TIMEOUT PGAPPNAME PGCLIENTENCODING PGTARGETSESSIONATTRS; do\n"
                     "  eval \"[ -z \\\"\\${$n+x}\\\" ] || printf '%s=%s\\n' $n \\\"\\$$n\\\"\"\n"
                     "done\nexit \"$1\"\n");
        QVERIFY(record.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    }

    void shouldRun_data() { addTestCaseRows(QFINDTESTDATA("cli-cases.json")); }

    void shouldRun()
    {
        QFETCH(QJsonObject, row);
        m_server.setReply({ 200, {},
            (u"<R><DbUser>IAM:alice</DbUser><DbPassword>"_s
                + row[u"password"].toString(u"p/w@:#"_s).toHtmlEscaped() + u"</DbPassword>"_s
                + (row[u"expires"].toBool() ? expanded(u"<Expiration>@expiry</Expiration>"_s)
                                            : QString())
                + u"</R>"_s)
                .toUtf8() });
        const RecordingOpener opener(row[u"opener"].toString(u"exit 0\n"_s).toUtf8());
        const ScopedEnv path("PATH", qgetenv("PATH") + ':' + m_bin.path().toUtf8());
        // The child inherits this process's environment, and with it the endpoint and PATH. The
        // server answers on this thread, so the process is awaited with the event loop running.
        // A row that interrupts (with SIGINT, SIGTERM or SIGHUP) does so once the silent service
        // has the request.
        const QString interrupt = row[u"interrupt"].toString();
        const qsizetype requests = m_server.requests().size();
        if (!interrupt.isEmpty())
            m_server.setReply({ .neverAnswer = true });
        QStringList arguments;
        for (const QJsonValue &argument : row[u"args"].toArray())
            arguments.append(expanded(argument));
        QProcess process;
        if (row[u"ignoreHUP"].toBool())
            process.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
        process.start(QStringLiteral(IAMLINK_CLI_PATH), arguments);
        QVERIFY(process.waitForStarted());
        process.write(expanded(row[u"input"]).toUtf8());
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

        const QByteArray out = process.readAllStandardOutput();
        if (row.contains(u"json")) {
            const QByteArray expected = QJsonDocument(row[u"json"].toObject()).toJson();
            QCOMPARE(QJsonDocument::fromJson(out).object(),
                QJsonDocument::fromJson(expanded(QString::fromUtf8(expected)).toUtf8()).object());
            QVERIFY(out.endsWith("}\n"));
        } else {
            QCOMPARE(QString::fromUtf8(out), expanded(row[u"stdout"]));
        }
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), expanded(row[u"stderr"]));
        QCOMPARE(process.exitCode(), row[u"exit"].toInt());
        QTRY_COMPARE(opener.openedURL(), expanded(row[u"opened"]).toUtf8());
        if (row.contains(u"requests"))
            QCOMPARE(m_server.requests().size() - requests, row[u"requests"].toInteger());
        if (row.contains(u"sh")) {
            QProcess shell;
            shell.start(u"/bin/sh"_s,
                { u"-c"_s, u"eval \"$1\" && exec record 0"_s, u"sh"_s, QString::fromUtf8(out) });
            QVERIFY(shell.waitForFinished());
            QCOMPARE(QString::fromUtf8(shell.readAll()), row[u"sh"].toString());
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
