#include "AWSSharedFile.h"
#include "CredentialsResolver.h"
#include "ProcessCredentialsSource.h"
#include "RecordingDesktopServices.h"
#include "ScopedEnv.h"
#include "ShellWords.h"
#include "TestCases.h"
#include "TestHttpServer.h"
#include "URLSession.h"

#include <QtTest>

#include <list>

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

// `expected` with each * standing for any text.
bool matches(const QString &text, const QString &expected)
{
    QStringList parts = expected.split(u'*');
    for (QString &part : parts)
        part = QRegularExpression::escape(part);
    return QRegularExpression(QRegularExpression::anchoredPattern(parts.join(u".*"_s)),
        QRegularExpression::DotMatchesEverythingOption)
        .match(text)
        .hasMatch();
}

// A request as the cases write it: method, target and body; the key, region and service of
// its signature and the headers it signs; its session token; its SSO bearer token.
QString summary(const RecordedRequest &request)
{
    static const QRegularExpression scope(
        u"Credential=([^/]*)/\\d{8}/([^/]*/[^/]*)/aws4_request, SignedHeaders=([^,]*)"_s);
    const QRegularExpressionMatch signature
        = scope.match(QString::fromUtf8(request.header("Authorization").value_or("")));
    QString text = QString::fromUtf8(request.method + ' ' + request.target + ' ' + request.body);
    if (signature.hasMatch())
        text += u" as %1/%2 signing %3"_s.arg(
            signature.captured(1), signature.captured(2), signature.captured(3));
    for (const auto &[header, label] : { std::pair { "X-Amz-Security-Token", " token " },
             std::pair { "x-amz-sso_bearer_token", " bearer " } }) {
        if (const auto value = request.header(header))
            text += QString::fromLatin1(label) + QString::fromUtf8(*value);
    }
    return text;
}

} // namespace

class TestCredentials : public QObject {
    Q_OBJECT

    TestHttpServer m_server;
    CleanNetworkEnv m_network;

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
    // the alert; the requests that reached the loopback server; the questions asked.
    void shouldResolve_data() { addTestCaseRows(QFINDTESTDATA("resolver-cases.json")); }
    void shouldResolve()
    {
        QFETCH(QJsonObject, row);
        const QTemporaryDir home;
        const auto expand = [&](QString text) {
            return text.replace(u"$HOME"_s, home.path())
                .replace(u"$SERVER"_s, QString::fromUtf8(m_server.url().toEncoded()));
        };
        QJsonObject env { { u"HOME"_s, u"$HOME"_s }, { u"AWS_ENDPOINT_URL"_s, u"$SERVER"_s } };
        const QJsonObject rowEnv = row[u"env"].toObject();
        for (auto value = rowEnv.begin(); value != rowEnv.end(); ++value)
            env[value.key()] = *value;
        std::list<ScopedEnv> scoped;
        for (const char *name : { "HOME", "AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY",
                 "AWS_SESSION_TOKEN", "AWS_PROFILE", "AWS_REGION", "AWS_DEFAULT_REGION",
                 "AWS_CONFIG_FILE", "AWS_SHARED_CREDENTIALS_FILE", "AWS_ENDPOINT_URL",
                 "AWS_ENDPOINT_URL_STS", "AWS_ENDPOINT_URL_SSO" }) {
            const QJsonValue value = env[QLatin1String(name)];
            scoped.emplace_back(name,
                value.isString() ? std::optional(expand(value.toString()).toUtf8()) : std::nullopt);
        }
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
        QStringList outcomes;
        URLSession session;
        const QPointer<Cancellable> task = CredentialsResolver::resolve(
            { item(u"AccessKeyID"_s), item(u"SecretAccessKey"_s), item(u"SessionToken"_s),
                item(u"Profile"_s) },
            session, desktop,
            [&](const std::variant<CredentialsResolver::Resolution, Alert> &resolved) {
                if (const Alert *alert = std::get_if<Alert>(&resolved))
                    return outcomes.append(
                        u"alert "_s + alert->messageText + u'|' + alert->informativeText);
                const auto &[keys, region] = std::get<CredentialsResolver::Resolution>(resolved);
                outcomes.append(QStringList { keys.accessKeyId, keys.secretAccessKey,
                    keys.sessionToken.value_or(u"-"_s), region.value_or(u"-"_s) }
                                    .join(u' '));
            });
        QVERIFY(outcomes.isEmpty());
        if (row[u"cancel"].toBool())
            task->cancel();
        QTRY_COMPARE(outcomes.size(), 1);
        QVERIFY2(matches(outcomes[0], expand(row[u"expect"].toString())), qPrintable(outcomes[0]));
        const auto requests = m_server.requests().sliced(sent);
        const QJsonArray expected = row[u"requests"].toArray();
        QCOMPARE(requests.size(), expected.size());
        for (qsizetype i = 0; i < requests.size(); ++i)
            QVERIFY2(matches(summary(requests[i]), expected[i].toString()),
                qPrintable(summary(requests[i])));
        QCOMPARE(desktop.events, row[u"events"].toVariant().toStringList());
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
