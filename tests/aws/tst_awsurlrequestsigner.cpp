#include "AWSURLRequestSigner.h"
#include "ScopedEnv.h"
#include "URLQueryItem.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTest>

#include <clocale>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

const QString exampleAccessKey = u"AKIDEXAMPLE"_s;
// AWS's published example secret, not a real one.
const QString exampleSecret = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
const QDateTime exampleInstant = QDateTime(QDate(2015, 8, 30), QTime(12, 36), Qt::UTC);

// The cases of AWS's signing test suite whose rules this signer shares.
const QStringList applyingSuiteCases {
    u"get-vanilla"_s,
    u"get-vanilla-query"_s,
    u"get-vanilla-query-order-key-case"_s,
    u"get-vanilla-query-order-encoded"_s,
    u"get-vanilla-query-unreserved"_s,
    u"get-vanilla-utf8-query"_s,
    u"get-vanilla-empty-query-key"_s,
    u"post-vanilla"_s,
    u"post-vanilla-query"_s,
    u"post-vanilla-empty-query-value"_s,
    u"post-header-key-case"_s,
    u"post-header-key-sort"_s,
    u"post-header-value-case"_s,
    u"post-x-www-form-urlencoded"_s,
    u"post-x-www-form-urlencoded-parameters"_s,
    u"get-vanilla-with-session-token"_s,
};

// Cases outside that list whose expectations this signer meets all the same: their paths,
// repeated fields and session token come out the same under either set of rules.
const QStringList alsoMatchingSuiteCases {
    u"get-relative-relative-unnormalized"_s,
    u"get-relative-unnormalized"_s,
    u"get-slash-dot-slash-unnormalized"_s,
    u"get-slash-pointless-dot-unnormalized"_s,
    u"get-slash-unnormalized"_s,
    u"get-slashes-unnormalized"_s,
    u"get-unreserved"_s,
    u"get-header-key-duplicate"_s,
    u"get-header-value-order"_s,
    u"post-sts-header-before"_s,
};

// Cases whose expectations follow rules this signer defines differently, with the reason.
const QList<std::pair<QString, const char *>> differingSuiteCases {
    { u"get-relative-normalized"_s, "the path is signed as the URL gives it, not normalised" },
    { u"get-relative-relative-normalized"_s,
        "the path is signed as the URL gives it, not normalised" },
    { u"get-slash-dot-slash-normalized"_s,
        "the path is signed as the URL gives it, not normalised" },
    { u"get-slash-normalized"_s, "the path is signed as the URL gives it, not normalised" },
    { u"get-slash-pointless-dot-normalized"_s,
        "the path is signed as the URL gives it, not normalised" },
    { u"get-slashes-normalized"_s, "the path is signed as the URL gives it, not normalised" },
    { u"get-space-normalized"_s, "the path is signed decoded, not URI-encoded" },
    { u"get-space-unnormalized"_s, "the path is signed decoded, not URI-encoded" },
    { u"get-utf8"_s, "the path is signed decoded, not URI-encoded" },
    { u"get-header-value-trim"_s, "inner header spaces are kept, not collapsed" },
    { u"get-header-value-multiline"_s, "line breaks in header values are kept" },
    { u"post-sts-header-after"_s, "a session token is signed when the caller sets it" },
};

struct SuiteCase {
    QString region;
    QString service;
    QString accessKeyId;
    QString secret;
    QDateTime instant;
    URLRequest request;
    QString canonicalRequest;
    QString stringToSign;
    QString signature;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A suite case as a request of ours: request.txt without its Host line (sign adds "Host"),
// plus the session token and body hash fields that the suite's signer would have added.
std::optional<SuiteCase> loadSuiteCase(const QString &folder)
{
    const QJsonObject context
        = QJsonDocument::fromJson(readFile(folder + u"/context.json"_s)).object();
    const QByteArray raw = readFile(folder + u"/request.txt"_s);
    if (context.isEmpty() || raw.isEmpty())
        return std::nullopt;

    SuiteCase suiteCase;
    const QJsonObject credentials = context.value(u"credentials"_s).toObject();
    suiteCase.accessKeyId = credentials.value(u"access_key_id"_s).toString();
    suiteCase.secret = credentials.value(u"secret_access_key"_s).toString();
    suiteCase.region = context.value(u"region"_s).toString();
    suiteCase.service = context.value(u"service"_s).toString();
    suiteCase.instant
        = QDateTime::fromString(context.value(u"timestamp"_s).toString(), Qt::ISODate);

    const qsizetype headEnd = raw.indexOf("\n\n");
    const QByteArray head = headEnd < 0 ? raw : raw.first(headEnd);
    const QByteArray body = headEnd < 0 ? QByteArray() : raw.sliced(headEnd + 2);
    QList<QByteArray> lines = head.split('\n');
    const QByteArray requestLine = lines.takeFirst();
    const qsizetype methodEnd = requestLine.indexOf(' ');
    const qsizetype targetEnd = requestLine.lastIndexOf(' ');
    const QByteArray target = requestLine.sliced(methodEnd + 1, targetEnd - methodEnd - 1);

    QString host;
    QList<URLRequest::HeaderField> fields;
    for (const QByteArray &line : std::as_const(lines)) {
        if (line.isEmpty())
            continue;
        if ((line.startsWith(' ') || line.startsWith('\t')) && !fields.isEmpty()) {
            fields.last().second += u'\n' + QString::fromUtf8(line);
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        const QString name = QString::fromUtf8(line.first(colon));
        const QString value = QString::fromUtf8(line.sliced(colon + 1));
        if (name.compare(u"Host"_s, Qt::CaseInsensitive) == 0)
            host = value;
        else
            fields.append({ name, value });
    }

    suiteCase.request.method = QString::fromUtf8(requestLine.first(methodEnd));
    suiteCase.request.url = QUrl(u"https://"_s + host + QString::fromUtf8(target));
    for (const auto &[name, value] : std::as_const(fields))
        suiteCase.request.addValue(value, name);
    if (!body.isEmpty())
        suiteCase.request.body = body;
    if (context.value(u"sign_body"_s).toBool())
        suiteCase.request.addValue(
            AWSURLRequestSigner::hexString(AWSURLRequestSigner::sha256Digest(body)),
            u"X-Amz-Content-Sha256"_s);
    if (credentials.contains(u"token"_s))
        suiteCase.request.addValue(
            credentials.value(u"token"_s).toString(), u"X-Amz-Security-Token"_s);

    suiteCase.canonicalRequest
        = QString::fromUtf8(readFile(folder + u"/header-canonical-request.txt"_s));
    suiteCase.stringToSign = QString::fromUtf8(readFile(folder + u"/header-string-to-sign.txt"_s));
    suiteCase.signature = QString::fromUtf8(readFile(folder + u"/header-signature.txt"_s));
    return suiteCase;
}

SigningStages stagesOf(const AWSURLRequestSigner &signer,
    const URLRequest &request,
    const QDateTime &instant = exampleInstant)
{
    auto stages = signer.signingStages(request, instant);
    if (auto *error = std::get_if<SigningError>(&stages))
        qFatal("signing refused: %s", qPrintable(error->description));
    return std::get<SigningStages>(std::move(stages));
}

URLRequest postRequest(const char *url)
{
    URLRequest request(QUrl::fromEncoded(url, QUrl::StrictMode));
    request.method = u"POST"_s;
    return request;
}

} // namespace

class TestAWSURLRequestSigner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void shouldMatchSigningTestSuite_data();
    void shouldMatchSigningTestSuite();
    void shouldDifferFromSuiteByDesign_data();
    void shouldDifferFromSuiteByDesign();
    void shouldDeriveSigningKeyOfPublishedExample();
    void shouldReproducePublishedExample();
    void shouldMatchBotocoreOnReservedCharacters();

    void shouldFormatTimestampsInUtc_data();
    void shouldFormatTimestampsInUtc();
    void shouldIgnoreMachineTimeZoneAndLocale_data();
    void shouldIgnoreMachineTimeZoneAndLocale();

    void shouldBuildCanonicalQuery_data();
    void shouldBuildCanonicalQuery();
    void shouldBuildCanonicalHeaders_data();
    void shouldBuildCanonicalHeaders();
    void shouldWriteHostWithPortOnlyWhenNotDefault_data();
    void shouldWriteHostWithPortOnlyWhenNotDefault();
    void shouldAppendToFieldsAlreadySet();
    void shouldRefuseIncompleteRequest_data();
    void shouldRefuseIncompleteRequest();
    void shouldWriteLowercaseHex();

private:
    QString m_suite;
    QLocale m_defaultLocale;
};

void TestAWSURLRequestSigner::initTestCase()
{
    m_suite = qEnvironmentVariable("IAMLINK_SIGV4_SUITE");
    QVERIFY2(!m_suite.isEmpty(), "IAMLINK_SIGV4_SUITE is not set");
    QVERIFY2(QDir(m_suite).exists(u"get-vanilla"_s),
        qPrintable(u"no signing test suite in "_s + m_suite));
}

// Undoes what the time zone and locale test changed, also when it failed half-way (its
// environment variables are restored by then).
void TestAWSURLRequestSigner::cleanup()
{
    tzset();
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(m_defaultLocale);
}

void TestAWSURLRequestSigner::shouldMatchSigningTestSuite_data()
{
    QTest::addColumn<QString>("folder");
    for (const QString &name : applyingSuiteCases + alsoMatchingSuiteCases)
        QTest::newRow(qPrintable(name)) << name;
}

void TestAWSURLRequestSigner::shouldMatchSigningTestSuite()
{
    QFETCH(QString, folder);
    const std::optional<SuiteCase> suiteCase = loadSuiteCase(m_suite + u'/' + folder);
    QVERIFY2(suiteCase, qPrintable(u"cannot read case "_s + folder));

    const AWSURLRequestSigner signer(
        suiteCase->service, suiteCase->region, suiteCase->accessKeyId, suiteCase->secret);
    const SigningStages stages = stagesOf(signer, suiteCase->request, suiteCase->instant);
    QCOMPARE(stages.canonicalRequest, suiteCase->canonicalRequest);
    QCOMPARE(stages.stringToSign, suiteCase->stringToSign);
    QCOMPARE(stages.signature, suiteCase->signature);

    const auto signedRequest = signer.sign(suiteCase->request, suiteCase->instant);
    QVERIFY(std::holds_alternative<URLRequest>(signedRequest));
    QCOMPARE(std::get<URLRequest>(signedRequest).value(u"Authorization"_s), stages.authorization);
}

void TestAWSURLRequestSigner::shouldDifferFromSuiteByDesign_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("reason");
    for (const auto &[name, reason] : differingSuiteCases)
        QTest::newRow(qPrintable(name)) << name << QString::fromLatin1(reason);
}

void TestAWSURLRequestSigner::shouldDifferFromSuiteByDesign()
{
    QFETCH(QString, folder);
    QFETCH(QString, reason);
    const std::optional<SuiteCase> suiteCase = loadSuiteCase(m_suite + u'/' + folder);
    QVERIFY2(suiteCase, qPrintable(u"cannot read case "_s + folder));

    const AWSURLRequestSigner signer(
        suiteCase->service, suiteCase->region, suiteCase->accessKeyId, suiteCase->secret);
    const SigningStages stages = stagesOf(signer, suiteCase->request, suiteCase->instant);
    QEXPECT_FAIL("", qPrintable(reason), Continue);
    QCOMPARE(stages.canonicalRequest, suiteCase->canonicalRequest);
}

void TestAWSURLRequestSigner::shouldDeriveSigningKeyOfPublishedExample()
{
    const AWSURLRequestSigner signer(u"iam"_s, u"us-east-1"_s, exampleAccessKey, exampleSecret);
    QCOMPARE(AWSURLRequestSigner::hexString(signer.signingKey(exampleSecret, u"20120215"_s)),
        u"f4780e2d9f65fa895f9c67b32ce1baf0b0d8a43505a000a1a9e090d414db404d"_s);
}

void TestAWSURLRequestSigner::shouldReproducePublishedExample()
{
    const AWSURLRequestSigner signer(u"iam"_s, u"us-east-1"_s, exampleAccessKey, exampleSecret);
    URLRequest request(QUrl(u"https://iam.amazonaws.com/?Action=ListUsers&Version=2010-05-08"_s));
    request.method = u"GET"_s;
    request.addValue(u"application/x-www-form-urlencoded; charset=utf-8"_s, u"Content-Type"_s);

    const SigningStages stages = stagesOf(signer, request);
    QCOMPARE(AWSURLRequestSigner::hexString(AWSURLRequestSigner::sha256Digest(
                 AWSURLRequestSigner::utf8Bytes(stages.canonicalRequest))),
        u"f536975d06c0309214f805bb90ccff089219ecd68b2577efef23edd43b7e1a59"_s);
    QCOMPARE(
        stages.signature, u"5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"_s);

    const auto result = signer.sign(request, exampleInstant);
    QVERIFY(std::holds_alternative<URLRequest>(result));
    const URLRequest &signedRequest = std::get<URLRequest>(result);
    QCOMPARE(signedRequest.method, request.method);
    QCOMPARE(signedRequest.url, request.url);
    QCOMPARE(signedRequest.body, request.body);
    const QList<URLRequest::HeaderField> expectedFields {
        { u"Content-Type"_s, u"application/x-www-form-urlencoded; charset=utf-8"_s },
        { u"Host"_s, u"iam.amazonaws.com"_s },
        { u"X-Amz-Date"_s, u"20150830T123600Z"_s },
        { u"Authorization"_s,
            u"AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/iam/aws4_request, "
            "SignedHeaders=content-type;host;x-amz-date, "
            "Signature=5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"_s },
    };
    QCOMPARE(signedRequest.headerFields(), expectedFields);
}

// botocore's SigV4Auth signed this request (same key, instant, region and service) with this
// signature. The sent query keeps its order, an item without "=" is signed as "name=".
void TestAWSURLRequestSigner::shouldMatchBotocoreOnReservedCharacters()
{
    const AWSURLRequestSigner signer(
        u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);
    QUrl url(u"https://redshift.us-west-2.amazonaws.com/"_s);
    setQueryItems(url,
        { { u"DbUser"_s, u"a+b/c=d&e f é"_s }, { u"DbGroups.DbGroup.2"_s, u"z"_s },
            { u"DbGroups.DbGroup.10"_s, u"y"_s }, { u"DbGroups.DbGroup.1"_s, u"x"_s },
            { u"AutoCreate"_s, std::nullopt }, { u"Action"_s, u"GetClusterCredentials"_s } });
    URLRequest request(url);
    request.method = u"POST"_s;

    const SigningStages stages = stagesOf(signer, request);
    QCOMPARE(stages.canonicalRequest.section(u'\n', 2, 2),
        u"Action=GetClusterCredentials&AutoCreate=&DbGroups.DbGroup.1=x"
        "&DbGroups.DbGroup.10=y&DbGroups.DbGroup.2=z&DbUser=a%2Bb%2Fc%3Dd%26e%20f%20%C3%A9"_s);
    QCOMPARE(
        stages.signature, u"89c68854bdc6fb2900e0aaa7131eede60a88df52956b2ecf8959b5b9bcb66d1d"_s);
    QCOMPARE(stages.request.url.toEncoded(),
        "https://redshift.us-west-2.amazonaws.com/?DbUser=a%2Bb%2Fc%3Dd%26e%20f%20%C3%A9"
        "&DbGroups.DbGroup.2=z&DbGroups.DbGroup.10=y&DbGroups.DbGroup.1=x&AutoCreate"
        "&Action=GetClusterCredentials"_ba);
}

void TestAWSURLRequestSigner::shouldFormatTimestampsInUtc_data()
{
    QTest::addColumn<QDateTime>("instant");
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QString>("dateStamp");

    const QDate day(2015, 8, 30);
    QTest::newRow("last tenth of a second of the day") << QDateTime(day, QTime(23, 59, 59, 900),
        Qt::UTC) << u"20150830T235959Z"_s << u"20150830"_s;
    QTest::newRow("a tenth of a second later") << QDateTime(day.addDays(1), QTime(0, 0), Qt::UTC)
                                               << u"20150831T000000Z"_s << u"20150831"_s;
    QTest::newRow("instant given at another offset")
        << QDateTime(day.addDays(1), QTime(5, 29, 59, 999), Qt::OffsetFromUTC, 5 * 3600 + 1800)
        << u"20150830T235959Z"_s << u"20150830"_s;
    QTest::newRow("leap day, one digit month and hour")
        << QDateTime(QDate(2024, 2, 29), QTime(1, 2, 3), Qt::UTC) << u"20240229T010203Z"_s
        << u"20240229"_s;
    QTest::newRow("year end") << QDateTime(QDate(2025, 12, 31), QTime(23, 0), Qt::UTC)
                              << u"20251231T230000Z"_s << u"20251231"_s;
}

void TestAWSURLRequestSigner::shouldFormatTimestampsInUtc()
{
    QFETCH(QDateTime, instant);
    QFETCH(QString, timestamp);
    QFETCH(QString, dateStamp);

    const AWSURLRequestSigner signer(
        u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);
    const SigningStages stages = stagesOf(signer, postRequest("https://h/"), instant);
    QCOMPARE(stages.requestTimestamp, timestamp);
    QCOMPARE(stages.request.value(u"X-Amz-Date"_s).value_or(QString()), timestamp);
    QCOMPARE(stages.credentialScope, dateStamp + u"/us-west-2/redshift/aws4_request"_s);
    QCOMPARE(stages.stringToSign.section(u'\n', 1, 1), timestamp);
}

void TestAWSURLRequestSigner::shouldIgnoreMachineTimeZoneAndLocale_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<int>("offsetSeconds");

    QTest::newRow("Kolkata, Arabic digits") << "Asia/Kolkata"_ba
                                            << "ar_EG"_ba << 5 * 3600 + 1800;
    QTest::newRow("St John's, Thai") << "America/St_Johns"_ba
                                     << "th_TH"_ba << -(2 * 3600 + 1800);
    QTest::newRow("Kiritimati, Persian") << "Pacific/Kiritimati"_ba
                                         << "fa_IR"_ba << 14 * 3600;
}

// The instant is the last tenth of 2015-08-30 in UTC, given in the machine's local time.
void TestAWSURLRequestSigner::shouldIgnoreMachineTimeZoneAndLocale()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, locale);
    QFETCH(int, offsetSeconds);

    const ScopedEnv tz("TZ", zone);
    const ScopedEnv lang("LANG", locale + ".UTF-8");
    const ScopedEnv all("LC_ALL", locale + ".UTF-8");
    tzset();
    std::setlocale(LC_ALL, "");
    QLocale::setDefault(QLocale(QString::fromLatin1(locale)));

    const QDateTime instant = QDateTime::fromMSecsSinceEpoch(
        QDateTime(QDate(2015, 8, 30), QTime(23, 59, 59, 900), Qt::UTC).toMSecsSinceEpoch(),
        Qt::LocalTime);
    QCOMPARE(instant.offsetFromUtc(), offsetSeconds);

    const AWSURLRequestSigner signer(
        u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);
    const SigningStages stages = stagesOf(signer, postRequest("https://h/"), instant);
    QCOMPARE(stages.requestTimestamp, u"20150830T235959Z"_s);
    QCOMPARE(stages.dateStamp, u"20150830"_s);
}

void TestAWSURLRequestSigner::shouldBuildCanonicalQuery_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("no query") << "https://h/"_ba << QString();
    QTest::newRow("question mark alone") << "https://h/?"_ba << QString();
    QTest::newRow("names ordered as text")
        << "https://h/?DbGroups.DbGroup.2=c&DbGroups.DbGroup.10=b&DbGroups.DbGroup.1=a"_ba
        << u"DbGroups.DbGroup.1=a&DbGroups.DbGroup.10=b&DbGroups.DbGroup.2=c"_s;
    QTest::newRow("action sent last is signed first")
        << "https://h/?DbUser=u&ClusterIdentifier=c&Action=GetClusterCredentials"_ba
        << u"Action=GetClusterCredentials&ClusterIdentifier=c&DbUser=u"_s;
    QTest::newRow("upper case before lower case")
        << "https://h/?b=1&B=2&a=3"_ba << u"B=2&a=3&b=1"_s;
    QTest::newRow("equal names ordered by value")
        << "https://h/?k=b&k=a&k=&k"_ba << u"k=&k=&k=a&k=b"_s;
    QTest::newRow("ordered by encoded value, not decoded")
        << "https://h/?k=z&k=%C3%A9"_ba << u"k=%C3%A9&k=z"_s;
    QTest::newRow("reserved characters, space and UTF-8 encoded")
        << "https://h/?v=%2B%20/%3D%26%20%20%C3%A9"_ba << u"v=%2B%20%2F%3D%26%20%20%C3%A9"_s;
    QTest::newRow("literal plus read as plus") << "https://h/?v=1+2"_ba << u"v=1%2B2"_s;
    QTest::newRow("unreserved left alone") << "https://h/?a-b_c.d~e=%7E"_ba << u"a-b_c.d~e=~"_s;
}

void TestAWSURLRequestSigner::shouldBuildCanonicalQuery()
{
    QFETCH(QByteArray, url);
    QFETCH(QString, canonical);
    QCOMPARE(AWSURLRequestSigner::canonicalQueryString(QUrl::fromEncoded(url, QUrl::StrictMode)),
        canonical);
}

void TestAWSURLRequestSigner::shouldBuildCanonicalHeaders_data()
{
    QTest::addColumn<QList<URLRequest::HeaderField>>("fields");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("signedHeaders");

    QTest::newRow("lowercased and ordered by name")
        << QList<URLRequest::HeaderField> { { u"X-Amz-Date"_s, u"d"_s }, { u"host"_s, u"h"_s },
               { u"Content-Type"_s, u"text/plain"_s } }
        << u"content-type:text/plain\nhost:h\nx-amz-date:d\n"_s
        << u"content-type;host;x-amz-date"_s;
    QTest::newRow("outer spaces trimmed, inner kept")
        << QList<URLRequest::HeaderField> { { u"My-Header"_s, u"  a   b  "_s } }
        << u"my-header:a   b\n"_s << u"my-header"_s;
    QTest::newRow("tabs and Unicode space separators trimmed")
        << QList<URLRequest::HeaderField> { { u"My-Header"_s, u"\t\u00a0a\tb\u3000\u2009"_s } }
        << u"my-header:a\tb\n"_s << u"my-header"_s;
    QTest::newRow("line breaks are not trimmed")
        << QList<URLRequest::HeaderField> { { u"My-Header"_s, u"\n a \r\n"_s } }
        << u"my-header:\n a \r\n\n"_s << u"my-header"_s;
    QTest::newRow("value case kept, empty value")
        << QList<URLRequest::HeaderField> { { u"B"_s, u"VALUE"_s }, { u"a"_s, u" "_s } }
        << u"a:\nb:VALUE\n"_s << u"a;b"_s;
}

void TestAWSURLRequestSigner::shouldBuildCanonicalHeaders()
{
    QFETCH(QList<URLRequest::HeaderField>, fields);
    QFETCH(QString, lines);
    QFETCH(QString, signedHeaders);
    const auto headers = AWSURLRequestSigner::canonicalHeaders(fields);
    QCOMPARE(headers.lines, lines);
    QCOMPARE(headers.signedHeaders, signedHeaders);
}

void TestAWSURLRequestSigner::shouldWriteHostWithPortOnlyWhenNotDefault_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QString>("host");

    QTest::newRow("no port") << "https://redshift.us-west-2.amazonaws.com/?a=1"_ba
                             << u"redshift.us-west-2.amazonaws.com"_s;
    QTest::newRow("https default port") << "https://h:443/"_ba << u"h"_s;
    QTest::newRow("http default port") << "http://h:80/"_ba << u"h"_s;
    QTest::newRow("endpoint override port") << "http://127.0.0.1:8443/"_ba << u"127.0.0.1:8443"_s;
    QTest::newRow("https port on http") << "http://h:443/"_ba << u"h:443"_s;
    QTest::newRow("user and password left out") << "https://u:p@h/"_ba << u"h"_s;
    QTest::newRow("IPv6 bracketed") << "http://[::1]:8080/"_ba << u"[::1]:8080"_s;
}

void TestAWSURLRequestSigner::shouldWriteHostWithPortOnlyWhenNotDefault()
{
    QFETCH(QByteArray, url);
    QFETCH(QString, host);
    const AWSURLRequestSigner signer(
        u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);
    const SigningStages stages = stagesOf(signer, postRequest(url.constData()));
    QCOMPARE(stages.request.value(u"Host"_s).value_or(QString()), host);
    QVERIFY(stages.canonicalRequest.contains(u"\nhost:"_s + host + u'\n'));
}

void TestAWSURLRequestSigner::shouldAppendToFieldsAlreadySet()
{
    const AWSURLRequestSigner signer(
        u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);
    URLRequest request = postRequest("https://redshift.us-west-2.amazonaws.com/");
    request.addValue(u"example.com"_s, u"host"_s);
    request.addValue(u"yesterday"_s, u"X-AMZ-DATE"_s);

    const SigningStages stages = stagesOf(signer, request);
    QCOMPARE(stages.request.value(u"Host"_s).value_or(QString()),
        u"example.com,redshift.us-west-2.amazonaws.com"_s);
    QCOMPARE(stages.canonicalRequest.section(u'\n', 3, 5),
        u"host:example.com,redshift.us-west-2.amazonaws.com\nx-amz-date:yesterday,20150830T123600Z\n"_s);
    QCOMPARE(stages.canonicalRequest.section(u'\n', 6, 6), u"host;x-amz-date"_s);
}

void TestAWSURLRequestSigner::shouldRefuseIncompleteRequest_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QDateTime>("instant");

    const QUrl url(u"https://h/"_s);
    QTest::newRow("no method") << QString() << url << exampleInstant;
    QTest::newRow("no URL") << u"POST"_s << QUrl() << exampleInstant;
    QTest::newRow("invalid URL") << u"POST"_s << QUrl(u"https://h:99999/"_s) << exampleInstant;
    QTest::newRow("relative URL without host")
        << u"POST"_s << QUrl(u"path/only?a=1"_s) << exampleInstant;
    QTest::newRow("absolute URL without host")
        << u"POST"_s << QUrl(u"mailto:someone"_s) << exampleInstant;
    QTest::newRow("invalid signing time") << u"POST"_s << url << QDateTime();
}

void TestAWSURLRequestSigner::shouldRefuseIncompleteRequest()
{
    QFETCH(QString, method);
    QFETCH(QUrl, url);
    QFETCH(QDateTime, instant);
    const AWSURLRequestSigner signer(
        u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);
    URLRequest request(url);
    request.method = method;
    const auto result = signer.sign(request, instant);
    QVERIFY(std::holds_alternative<SigningError>(result));
    QVERIFY(!std::get<SigningError>(result).description.isEmpty());
}

void TestAWSURLRequestSigner::shouldWriteLowercaseHex()
{
    QCOMPARE(
        AWSURLRequestSigner::hexString(QByteArray::fromRawData("\x00\x0f\xff", 3)), u"000fff"_s);
    QCOMPARE(AWSURLRequestSigner::hexString({}), QString());
}

QTEST_GUILESS_MAIN(TestAWSURLRequestSigner)
#include "tst_awsurlrequestsigner.moc"
