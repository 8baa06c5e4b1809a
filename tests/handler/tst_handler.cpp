#include "TestCases.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// iamlink-psql as the desktop runs it, on a PATH whose psql records its arguments and
// PGPASSWORD, then exits with 3. The case file's "keys" tells what a row holds.
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
        environment.insert(
            u"PATH"_s, row[u"installed"].toBool(true) ? dir.path() : u"/nonexistent"_s);
        environment.remove(u"PGPASSWORD"_s);
        if (row.contains(u"env"))
            environment.insert(u"PGPASSWORD"_s, row[u"env"].toString());
        QProcess handler;
        handler.setProcessEnvironment(environment);
        handler.start(QStringLiteral(IAMLINK_PSQL_PATH), { row[u"url"].toString() });
        handler.closeWriteChannel(); // the Return that a failure waits for
        QVERIFY(handler.waitForFinished());

        const QString left = row[u"left"].toString();
        const QString notice = left.isEmpty()
            ? QString()
            : u"iamlink-psql: left out what a link may not set: "_s + left + u'\n';
        QCOMPARE(handler.exitCode(), row[u"exit"].toInt(3));
        QCOMPARE(handler.readAllStandardError(), (notice + row[u"err"].toString()).toUtf8());
        const bool ran = row.contains(u"psql");
        QCOMPARE(
            recorded(u"psql.args"_s), ran ? row[u"psql"].toString().toUtf8() + '\n' : QByteArray());
        QCOMPARE(recorded(u"psql.password"_s),
            ran ? row[u"pw"].toString(u"(unset)"_s).toUtf8() : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestHandler)
#include "tst_handler.moc"
