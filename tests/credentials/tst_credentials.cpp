#include "AWSSharedFile.h"
#include "CredentialsResolver.h"
#include "HttpClient.h"
#include "ProcessCredentialsSource.h"
#include "RecordingDesktopServices.h"
#include "SAMLAssertion.h"
#include "SAMLResponseListener.h"
#include "SSOSignIn.h"
#include "ScopedEnv.h"
#include "ShellWords.h"
#include "TestCases.h"
#include "TestHttpServer.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject toJson(const QHash<QString, AWSSharedFile::Settings> &sections)
{
    QJsonObject json;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section)
        json[section.key()] = QJsonObject::fromVariantHash(
            QVariantHash(section->keyValueBegin(), section->keyValueEnd()));
    return json;
}

// A request as the cases write it: method, target, body, and the headers that sign it.
QString summary(const RecordedRequest &request)
{
    QByteArray text = request.method + ' ' + request.target + ' ' + request.body;
    for (const char *name : { "Authorization", "X-Amz-Security-Token", "x-amz-sso_bearer_token" }) {
        if (const auto value = request.header(name))
            text += " | " + QByteArray(name) + ": " + *value;
    }
    return QString::fromUtf8(text);
}

} // namespace

class TestCredentials : public QObject {
    Q_OBJECT

    TestHttpServer m_server;
    const ScopedEnv m_clean { cleanEnvironment() };

private Q_SLOTS:
    // The interval of a device sign-in's polling in milliseconds instead of seconds.
    void initTestCase() { SSOSignIn::pollSecond = std::chrono::milliseconds(1); }

    void shouldReadSharedFile_data() { addTestCaseRows(QFINDTESTDATA("sharedfile-cases.json")); }
    void shouldReadSharedFile()
    {
        QFETCH(QJsonObject, row);
        const AWSSharedFile file = AWSSharedFile::parse(row[u"text"].toString(),
            row[u"kind"] == u"config"_s ? AWSSharedFile::Kind::Config
                                        : AWSSharedFile::Kind::Credentials);
        QCOMPARE(toJson(file.profiles), row[u"profiles"].toObject());
        QCOMPARE(toJson(file.ssoSessions), row[u"ssoSessions"].toObject());
    }

    void shouldSplitWords_data() { addTestCaseRows(QFINDTESTDATA("shellwords-cases.json")); }
    void shouldSplitWords()
    {
        QFETCH(QJsonObject, row);
        const auto words = ShellWords::split(row[u"command"].toString());
        QCOMPARE(
            words ? QJsonValue(QJsonArray::fromStringList(*words)) : QJsonValue(), row[u"words"]);
    }

    // Files under a home of its own and an environment of its own → the keys and region, or
    // the alert; then the requests that reached the loopback server and the questions asked.
    void shouldResolve_data() { addTestCaseRows(QFINDTESTDATA("resolver-cases.json")); }
    void shouldResolve()
    {
        QFETCH(QJsonObject, row);
        const QTemporaryDir home;
        const auto expand = [&](QString text) {
            return text.replace(u"$HOME"_s, home.path())
                .replace(u"$SERVER"_s, QString::fromUtf8(m_server.url().toEncoded()));
        };
        ScopedEnv::Settings env { { "HOME", home.path().toUtf8() },
            { "AWS_ENDPOINT_URL", m_server.url().toEncoded() } };
        const QJsonObject rowEnv = row[u"env"].toObject();
        for (auto value = rowEnv.begin(); value != rowEnv.end(); ++value)
            env.append({ value.key().toUtf8(), expand(value->toString()).toUtf8() });
        const ScopedEnv scoped(env);
        const QJsonObject files = row[u"files"].toObject();
        for (auto file = files.begin(); file != files.end(); ++file) {
            QFile written(home.filePath(file.key()));
            QVERIFY(QDir().mkpath(file->isNull() ? written.fileName() : QFileInfo(written).path()));
            QVERIFY(file->isNull()
                || (written.open(QIODevice::WriteOnly)
                    && written.write(file->toString().toUtf8()) >= 0));
        }
        // A reply is {status, body}, [status, body] or the body of a 200.
        const auto canned = [](const QJsonValue &reply) {
            if (reply.isString())
                return CannedReply { 200, {}, reply.toString().toUtf8() };
            if (reply.isArray())
                return CannedReply { reply[0].toInt(), {}, reply[1].toString().toUtf8() };
            return CannedReply { reply[u"status"].toInt(200), {},
                reply[u"body"].toString().toUtf8() };
        };
        QList<CannedReply> replies;
        for (const QJsonValue &reply : row.value(u"replies").toArray(QJsonArray { row[u"reply"] }))
            replies.append(canned(reply));
        m_server.setReplies(replies);
        const qsizetype sent = m_server.requests().size();

        RecordingDesktopServices desktop;
        if (row.contains(u"mfa"))
            desktop.textAnswer = row[u"mfa"].toString();
        if (row[u"cancelSignIn"].toBool())
            desktop.browser = [&desktop](const QUrl &) {
                desktop.cancelSignIn();
            };
        const QJsonObject query = row[u"query"].toObject();
        const auto item = [&](const QString &name) {
            return query.contains(name) ? std::optional(query[name].toString()) : std::nullopt;
        };
        QStringList lines;
        HttpClient client;
        CredentialsResolver resolver({ item(u"AccessKeyID"_s), item(u"SecretAccessKey"_s),
            item(u"SessionToken"_s), item(u"Profile"_s) });
        const QPointer<Cancellable> task = resolver.resolve(client.sender(), desktop, &client,
            [&](const CredentialsResolver::Resolution &resolved) {
                if (const Alert *alert = std::get_if<Alert>(&resolved))
                    return lines.append(
                        u"alert "_s + alert->messageText + u'|' + alert->informativeText);
                const AWSCredentials &found = std::get<AWSCredentials>(resolved);
                const auto region = resolver.region();
                lines.append(QStringList { found.accessKeyId, found.secretAccessKey,
                    found.sessionToken.value_or(u"-"_s),
                    std::holds_alternative<QString>(region) ? std::get<QString>(region) : u"-"_s }
                                 .join(u' '));
            });
        QVERIFY(lines.isEmpty());
        if (row[u"cancel"].toBool())
            task->cancel();
        QTRY_COMPARE(lines.size(), 1);
        for (const RecordedRequest &request : m_server.requests().sliced(sent))
            lines.append(summary(request));
        for (const QJsonValue &path : row[u"written"].toArray()) {
            QFile file(home.filePath(path.toString()));
            const auto mode = [](QFile::Permissions p) {
                return QString::number((p >> 12 & 7) << 6 | (p >> 4 & 7) << 3 | (p & 7), 8);
            };
            QVERIFY(file.open(QIODevice::ReadOnly));
            lines.append(u"written %1 %2 "_s.arg(mode(file.permissions()),
                             mode(QFileInfo(QFileInfo(file).path()).permissions()))
                + QString::fromUtf8(file.readAll()));
        }
        const QString text = (lines + desktop.events).join(u'\n');
        // Each * in what the row expects stands for any text within a line.
        const QString expected = expand(row[u"expect"].toVariant().toStringList().join(u'\n'));
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(expected).replace(u"\\*"_s, u".*"_s)));
        QVERIFY2(pattern.match(text).hasMatch(), qPrintable(text));
    }

    void shouldReadSAML_data() { addTestCaseRows(QFINDTESTDATA("saml-cases.json")); }
    void shouldReadSAML()
    {
        QFETCH(QJsonObject, row);
        const QByteArray base64 = row.contains(u"xml") ? row[u"xml"].toString().toUtf8().toBase64()
                                                       : row[u"base64"].toString().toUtf8();
        QByteArray lines; // as identity providers may send it
        for (qsizetype i = 0; i < base64.size(); i += 76)
            lines += base64.mid(i, 76) + "\r\n";
        const auto read = SAMLAssertion::read(lines);
        QString text;
        if (const auto *assertion = std::get_if<SAMLAssertion>(&read)) {
            QStringList roles;
            for (const SAMLAssertion::Role &role : assertion->roles)
                roles << role.roleArn + u' ' + role.principalArn;
            text = QStringList { roles.join(u"; "_s), assertion->dbUser.value_or(u"-"_s),
                assertion->autoCreate.value_or(u"-"_s), assertion->dbGroups.join(u',') }
                       .join(u" | "_s);
        } else {
            text = u"error "_s + std::get<QString>(read);
        }
        QCOMPARE(text, row[u"expect"].toString());
    }

    // One POST only: the port is let go before the browser has its page. A "+" stays one.
    void shouldTakeOnePost()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        SAMLResponseListener listener;
        std::optional<SAMLResponseListener::Received> received;
        QVERIFY(!listener.listen(port, [&](const auto &form) { received = form; }));
        URLRequest post(QUrl(u"http://127.0.0.1:%1/acs"_s.arg(port)));
        post.method = u"POST"_s;
        post.body = "RelayState=r&SAMLResponse=PHg%2B+";
        HttpClient browser;
        std::optional<HttpReply> page;
        browser.send(post, [&](const HttpReply &reply) {
            page = reply;
            QVERIFY(QTcpServer().listen(QHostAddress::LocalHost, port));
        });
        QTRY_VERIFY(page);
        QCOMPARE(page->statusCode, 200);
        QVERIFY(page->body->contains("You can close this window."));
        QCOMPARE(received, SAMLResponseListener::Received(QByteArray("PHg++")));
    }

    void shouldSignIn_data() { addTestCaseRows(QFINDTESTDATA("signin-cases.json")); }
    void shouldSignIn() { shouldResolve(); }

    void shouldStopASlowProcess()
    {
        ProcessCredentialsSource source(u"slow"_s, u"sleep 300"_s, std::chrono::milliseconds(100));
        std::optional<CredentialsSource::Result> result;
        source.fetch([&](const CredentialsSource::Result &outcome) { result = outcome; });
        QTRY_VERIFY(result);
        QCOMPARE(std::get<Alert>(*result).informativeText,
            u"The credential_process of the profile \"slow\" (sleep) did not finish within 0.1 s "
            "and was stopped."_s);
    }
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
