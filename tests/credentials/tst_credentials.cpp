#include "AWSSharedFile.h"
#include "CredentialsResolver.h"
#include "HttpClient.h"
#include "ProcessCredentialsSource.h"
#include "RecordingDesktopServices.h"
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
        const QJsonObject reply = row[u"reply"].toObject();
        m_server.setReply({ reply[u"status"].toInt(200), {}, reply[u"body"].toString().toUtf8() });
        const qsizetype sent = m_server.requests().size();

        RecordingDesktopServices desktop;
        if (row.contains(u"mfa"))
            desktop.textAnswer = row[u"mfa"].toString();
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
        const QString text = (lines + desktop.events).join(u'\n');
        // Each * in what the row expects stands for any text within a line.
        const QString expected = expand(row[u"expect"].toVariant().toStringList().join(u'\n'));
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(expected).replace(u"\\*"_s, u".*"_s)));
        QVERIFY2(pattern.match(text).hasMatch(), qPrintable(text));
    }

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
