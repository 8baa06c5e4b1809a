#include "TestCases.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// iamlink-psql as the desktop runs it, on a PATH whose psql records its arguments and
// PGPASSWORD, then exits with 3.
class TestHandler : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shouldRunPsql_data() { addTestCaseRows(QFINDTESTDATA("handler-cases.json")); }

    void shouldRunPsql()
    {
        QFETCH(QJsonObject, row);
        const QTemporaryDir dir;
        QFile psql(dir.filePath(u"psql"_s));
        QVERIFY(psql.open(QIODevice::WriteOnly));
        psql.write("#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$0.args\"\n"
                   "printf '%s' \"${PGPASSWORD-(unset)}\" >\"$0.password\"\nexit 3\n");
        psql.close();
        QVERIFY(psql.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        const auto recorded = [&dir](const QString &name) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"PATH"_s, row[u"psql"].toBool(true) ? dir.path() : u"/nonexistent"_s);
        environment.remove(u"PGPASSWORD"_s);
        QProcess handler;
        handler.setProcessEnvironment(environment);
        handler.start(QStringLiteral(IAMLINK_PSQL_PATH), { row[u"url"].toString() });
        handler.closeWriteChannel(); // the Return that a failure waits for
        QVERIFY(handler.waitForFinished());

        QCOMPARE(handler.exitCode(), row[u"exit"].toInt());
        QCOMPARE(handler.readAllStandardError(), row[u"stderr"].toString().toUtf8());
        QCOMPARE(recorded(u"psql.args"_s), row[u"args"].toString().toUtf8());
        QCOMPARE(recorded(u"psql.password"_s), row[u"PGPASSWORD"].toString().toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestHandler)
#include "tst_handler.moc"
