#include "TestHttpServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

const QString cluster
    = QStringLiteral("examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com");
const QString iamURL = QStringLiteral("jdbc:redshift:iam://") + cluster
    + QStringLiteral(
        ":5439/"
        "dev?AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI&DbUser=alice&sslmode=require");
// The reply's password holds characters that must be percent-encoded in the user info.
const QByteArray connectionURL
    = "postgres://IAM%3Aalice:p%2Fw%40:%23@" + cluster.toUtf8() + ":5439/dev?sslmode=require";
const QByteArray usageLine = "Usage: iamlink-cli [--print] [URL]\n";

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CannedReply cannedReply(int status, const QByteArray &body)
{
    CannedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void shouldPrintURL_data();
    void shouldPrintURL();
    void shouldReportAlertOnStandardError_data();
    void shouldReportAlertOnStandardError();
    void shouldRejectBadUsage_data();
    void shouldRejectBadUsage();
    void shouldAnswerHelpAndVersion();
    void shouldHandURLToDesktopOpener();
    void shouldFailWithoutDesktopOpener();
    void shouldCancelOnInterrupt();

private:
    QProcessEnvironment environment() const;
    void start(QProcess &process,
        const QStringList &arguments,
        const QByteArray &input,
        const QProcessEnvironment &environment);
    void finish(QProcess &process, Outcome &outcome);
    void run(const QStringList &arguments, const QByteArray &input, Outcome &outcome);

    std::unique_ptr<TestHttpServer> m_server;
};

void TestCli::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_server->setReply(cannedReply(200,
        "<GetClusterCredentialsResponse><GetClusterCredentialsResult>"
        "<DbUser>IAM:alice</DbUser><DbPassword>p/w@:#</DbPassword>"
        "</GetClusterCredentialsResult></GetClusterCredentialsResponse>"));
}

void TestCli::cleanup()
{
    m_server.reset();
}

QProcessEnvironment TestCli::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "AWS_ENDPOINT_URL_REDSHIFT", "AWS_CA_BUNDLE" })
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("AWS_ENDPOINT_URL"), m_server->url().toString());
    return environment;
}

void TestCli::start(QProcess &process,
    const QStringList &arguments,
    const QByteArray &input,
    const QProcessEnvironment &environment)
{
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(IAMLINK_CLI_PATH), arguments);
    QVERIFY(process.waitForStarted());
    process.write(input);
    process.closeWriteChannel();
}

// The server answers on this thread, so the process is awaited with the event loop running.
void TestCli::finish(QProcess &process, Outcome &outcome)
{
    if (process.state() != QProcess::NotRunning) {
        QSignalSpy finished(&process, &QProcess::finished);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    }
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    outcome.exitCode = process.exitCode();
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
}

void TestCli::run(const QStringList &arguments, const QByteArray &input, Outcome &outcome)
{
    QProcess process;
    start(process, arguments, input, environment());
    if (QTest::currentTestFailed())
        return;
    finish(process, outcome);
}

void TestCli::shouldPrintURL_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<int>("requests");

    const QString print = QStringLiteral("--print");
    QTest::newRow("URL as argument")
        << QStringList { print, iamURL } << QByteArray() << connectionURL + '\n'
        << 1;
    QTest::newRow("stdin with line feed") << QStringList { print } << iamURL.toUtf8() + '\n'
                                          << connectionURL + '\n'
                                          << 1;
    QTest::newRow("stdin with carriage return and line feed")
        << QStringList { print } << iamURL.toUtf8() + "\r\n"
        << connectionURL + '\n'
        << 1;
    QTest::newRow("stdin without line break, dash argument")
        << QStringList { print, QStringLiteral("-") } << iamURL.toUtf8() << connectionURL + '\n'
        << 1;
    QTest::newRow("ordinary JDBC URL loses its prefix only")
        << QStringList { QStringLiteral("jdbc:postgresql://db.example.com/app?ssl=true"), print }
        << QByteArray() << QByteArray("postgresql://db.example.com/app?ssl=true\n") << 0;
    QTest::newRow("bare word prints nothing")
        << QStringList { print, QStringLiteral("localhost") } << QByteArray() << QByteArray() << 0;
}

void TestCli::shouldPrintURL()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, printed);
    QFETCH(int, requests);

    Outcome outcome;
    run(arguments, input, outcome);
    QCOMPARE(outcome.err, QByteArray());
    QCOMPARE(outcome.out, printed);
    QCOMPARE(outcome.exitCode, 0);
    QCOMPARE(m_server->requests().size(), requests);
}

void TestCli::shouldReportAlertOnStandardError_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("expected");

    const QString base = QStringLiteral("redshift:iam://") + cluster + QStringLiteral("/dev?");
    QTest::newRow("empty input")
        << QString() << QByteArray("No URL\nPlease paste or type an URL into the text field\n");
    QTest::newRow("malformed URL")
        << QStringLiteral("a b") << QByteArray("Malformed URL\na b is not a valid URL\n");
    QTest::newRow("secret with blank masked whole")
        << base + QStringLiteral("AccessKeyID=AKID&SecretAccessKey=wJal rXUt&DbUser=a b")
        << "Malformed URL\n" + base.toUtf8()
            + "AccessKeyID=AKID&SecretAccessKey=***&DbUser=a b is not a valid Redshift IAM URL\n";
    QTest::newRow("secret as last item, encoded name")
        << base + QStringLiteral("AccessKeyID=AKID&Secret%41ccessKey=ab cd")
        << "Malformed URL\n" + base.toUtf8()
            + "AccessKeyID=AKID&Secret%41ccessKey=*** is not a valid Redshift IAM URL\n";
    QTest::newRow("secret in lower case before fragment")
        << base + QStringLiteral("secretaccesskey=x y#frag z")
        << "Malformed URL\n" + base.toUtf8()
            + "secretaccesskey=***#frag z is not a valid Redshift IAM URL\n";
    QTest::newRow("incomplete URL")
        << base + QStringLiteral("SecretAccessKey=s")
        << QByteArray("Incomplete Redshift IAM URL\nMissing: AccessKeyID\n");
    QTest::newRow("service error, no blank line after informative text")
        << base + QStringLiteral("AccessKeyID=AKID&SecretAccessKey=s")
        << QByteArray("Failed to get credentials from AWS\nThe security token included in the "
                      "request is invalid.\n");
}

void TestCli::shouldReportAlertOnStandardError()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, expected);

    m_server->setReply(cannedReply(403,
        "<ErrorResponse><Error><Code>InvalidClientTokenId</Code><Message>The security "
        "token included in the request is invalid.</Message></Error></ErrorResponse>"));
    Outcome outcome;
    run({ QStringLiteral("--print") }, url.toUtf8() + '\n', outcome);
    QCOMPARE(outcome.err, expected);
    QCOMPARE(outcome.out, QByteArray());
    QCOMPARE(outcome.exitCode, 1);
}

void TestCli::shouldRejectBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown option") << QStringList { QStringLiteral("--open") };
    QTest::newRow("two URLs") << QStringList { QStringLiteral("http://a/"),
        QStringLiteral("http://b/") };
    QTest::newRow("print with a value")
        << QStringList { QStringLiteral("--print=yes"), QStringLiteral("http://a/") };
}

void TestCli::shouldRejectBadUsage()
{
    QFETCH(QStringList, arguments);

    Outcome outcome;
    run(arguments, QByteArray(), outcome);
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY2(outcome.err.startsWith("iamlink-cli: ") && outcome.err.endsWith(usageLine),
        outcome.err.constData());
    QCOMPARE(outcome.out, QByteArray());
}

void TestCli::shouldAnswerHelpAndVersion()
{
    Outcome help;
    run({ QStringLiteral("--help") }, QByteArray(), help);
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(
        help.out.contains("--print") && help.out.contains("standard input"), help.out.constData());

    Outcome version;
    run({ QStringLiteral("--version") }, QByteArray(), version);
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("iamlink-cli " IAMLINK_VERSION "\n"));
}

void TestCli::shouldHandURLToDesktopOpener()
{
    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    const QString opened = bin.filePath(QStringLiteral("opened"));
    QFile opener(bin.filePath(QStringLiteral("xdg-open")));
    QVERIFY(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$IAMLINK_TEST_OPENED.tmp\"\n"
                 "mv \"$IAMLINK_TEST_OPENED.tmp\" \"$IAMLINK_TEST_OPENED\"\n");
    opener.close();
    QVERIFY(opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QProcessEnvironment env = environment();
    env.insert(
        QStringLiteral("PATH"), bin.path() + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("IAMLINK_TEST_OPENED"), opened);
    QProcess process;
    start(process, {}, iamURL.toUtf8(), env);
    Outcome outcome;
    finish(process, outcome);

    QCOMPARE(outcome.err, QByteArray());
    QCOMPARE(outcome.out, QByteArray());
    QCOMPARE(outcome.exitCode, 0);
    // The opener runs detached and may finish after iamlink-cli.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(opened), 10000);
    QFile written(opened);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), connectionURL);
}

void TestCli::shouldFailWithoutDesktopOpener()
{
    QTemporaryDir emptyBin;
    QVERIFY(emptyBin.isValid());
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("PATH"), emptyBin.path());
    QProcess process;
    start(process, { iamURL }, QByteArray(), env);
    Outcome outcome;
    finish(process, outcome);

    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(outcome.err.contains("could not start xdg-open"), outcome.err.constData());
    QVERIFY2(
        !outcome.err.contains("p/w") && !outcome.err.contains("p%2Fw"), outcome.err.constData());
    QCOMPARE(outcome.out, QByteArray());
}

void TestCli::shouldCancelOnInterrupt()
{
    CannedReply silent;
    silent.neverAnswer = true;
    m_server->setReply(silent);

    QProcess process;
    start(process, { QStringLiteral("--print"), iamURL }, QByteArray(), environment());
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, 10000);
    QVERIFY(::kill(pid_t(process.processId()), SIGINT) == 0);
    Outcome outcome;
    finish(process, outcome);

    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.out, QByteArray());
    QVERIFY2(outcome.err.startsWith("Failed to get credentials from AWS\n")
            && outcome.err.toLower().contains("cancel") && outcome.err.endsWith('\n'),
        outcome.err.constData());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
