#include "AWSURLRequestSigner.h"
#include "ScopedEnv.h"
#include "URLQueryItem.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTest>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

using Fields = QList<URLRequest::HeaderField>;

const QString exampleAccessKey = u"AKIDEXAMPLE"_s;
// AWS's published example secret, not a real one.
const QString exampleSecret = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
const QDateTime exampleInstant = QDateTime(QDate(2015, 8, 30), QTime(12, 36), Qt::UTC);
const AWSURLRequestSigner redshiftSigner(
    u"redshift"_s, u"us-west-2"_s, exampleAccessKey, exampleSecret);

SigningStages stagesOf(const URLRequest &request,
    const QDateTime &instant = exampleInstant,
    const AWSURLRequestSigner &signer = redshiftSigner)
{
    return std::get<SigningStages>(signer.signingStages(request, instant));
}

URLRequest postRequest(const QByteArray &url, const Fields &fields = {})
{
    URLRequest request(QUrl::fromEncoded(url, QUrl::StrictMode));
    request.method = u"POST"_s;
    for (const auto &[name, value] : fields)
        request.addValue(value, name);
    return request;
}

} // namespace

class TestAWSURLRequestSigner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void shouldMatchSigningTestSuite_data();
    void shouldMatchSigningTestSuite();
    void shouldReproducePublishedExample();
    void shouldMatchBotocoreOnReservedCharacters();
    void shouldStampUtcWhateverZoneAndLocale_data();
    void shouldStampUtcWhateverZoneAndLocale();
    void shouldCanonicaliseQueryAndHeaders_data();
    void shouldCanonicaliseQueryAndHeaders();
    void shouldRefuseIncompleteRequest_data();
    void shouldRefuseIncompleteRequest();
};

// Undoes the time zone and locale test also when it failed half-way (TZ is restored by
// then).
void TestAWSURLRequestSigner::cleanup()
{
    tzset();
    QLocale::setDefault(QLocale::system());
}

void TestAWSURLRequestSigner::shouldMatchSigningTestSuite_data()
{
    QTest::addColumn<QString>("folder");
    // The other cases normalise or encode the path (this signer's paths are always "/"),
    // collapse inner header spaces, fold header lines or add a session token unasked.
    for (const char *name :
        { "get-vanilla", "get-vanilla-query", "get-vanilla-query-order-key-case",
            "get-vanilla-query-order-encoded", "get-vanilla-query-unreserved",
            "get-vanilla-utf8-query", "get-vanilla-empty-query-key", "post-vanilla",
            "post-vanilla-query", "post-vanilla-empty-query-value", "post-header-key-case",
            "post-header-key-sort", "post-header-value-case", "post-x-www-form-urlencoded",
            "post-x-www-form-urlencoded-parameters", "get-vanilla-with-session-token",
            "get-header-key-duplicate", "get-header-value-order", "post-sts-header-before" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAWSURLRequestSigner::shouldMatchSigningTestSuite()
{
    QFETCH(QString, folder);
    const QDir dir(qEnvironmentVariable("IAMLINK_SIGV4_SUITE") + u'/' + folder);
    const auto read = [&dir](const char *name) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QJsonObject context = QJsonDocument::fromJson(read("context.json")).object();
    const QByteArray raw = read("request.txt");
    QVERIFY2(!context.isEmpty() && !raw.isEmpty(), qPrintable(u"cannot read "_s + dir.path()));

    // request.txt without its Host line, which sign adds, and with the fields that the
    // suite's signer adds itself: the session token and, where asked, the body hash.
    const qsizetype headEnd = raw.indexOf("\n\n");
    QList<QByteArray> lines = raw.first(headEnd < 0 ? raw.size() : headEnd).split('\n');
    lines.removeAll(QByteArray());
    const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
    URLRequest request;
    request.method = QString::fromLatin1(requestLine.at(0));
    QString host;
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        const QString name = QString::fromUtf8(line.first(colon));
        const QString value = QString::fromUtf8(line.sliced(colon + 1));
        if (name.compare(u"Host"_s, Qt::CaseInsensitive) == 0)
            host = value;
        else
            request.addValue(value, name);
    }
    request.url = QUrl(u"https://"_s + host + QString::fromUtf8(requestLine.at(1)));
    if (headEnd >= 0)
        request.body = raw.sliced(headEnd + 2);
    if (context[u"sign_body"_s].toBool())
        request.addValue(AWSURLRequestSigner::hexString(
                             AWSURLRequestSigner::sha256Digest(request.body.value_or(""_ba))),
            u"X-Amz-Content-Sha256"_s);
    const QJsonValue token = context[u"credentials"_s][u"token"_s];
    if (token.isString())
        request.addValue(token.toString(), u"X-Amz-Security-Token"_s);

    // Every case uses the published example's key pair and instant.
    const AWSURLRequestSigner signer(u"service"_s, u"us-east-1"_s, exampleAccessKey, exampleSecret);
    const SigningStages stages = stagesOf(request, exampleInstant, signer);
    QCOMPARE(stages.canonicalRequest, QString::fromUtf8(read("header-canonical-request.txt")));
    QCOMPARE(stages.stringToSign, QString::fromUtf8(read("header-string-to-sign.txt")));
    QCOMPARE(stages.signature, QString::fromUtf8(read("header-signature.txt")));
}

void TestAWSURLRequestSigner::shouldReproducePublishedExample()
{
    const AWSURLRequestSigner signer(u"iam"_s, u"us-east-1"_s, exampleAccessKey, exampleSecret);
    QCOMPARE(AWSURLRequestSigner::hexString(signer.signingKey(exampleSecret, u"20120215"_s)),
        u"f4780e2d9f65fa895f9c67b32ce1baf0b0d8a43505a000a1a9e090d414db404d"_s);

    URLRequest request(QUrl(u"https://iam.amazonaws.com/?Action=ListUsers&Version=2010-05-08"_s));
    request.method = u"GET"_s;
    request.addValue(u"application/x-www-form-urlencoded; charset=utf-8"_s, u"Content-Type"_s);
    const SigningStages stages = stagesOf(request, exampleInstant, signer);
    QCOMPARE(AWSURLRequestSigner::hexString(AWSURLRequestSigner::sha256Digest(
                 AWSURLRequestSigner::utf8Bytes(stages.canonicalRequest))),
        u"f536975d06c0309214f805bb90ccff089219ecd68b2577efef23edd43b7e1a59"_s);

    const Fields expectedFields {
        { u"Content-Type"_s, u"application/x-www-form-urlencoded; charset=utf-8"_s },
        { u"Host"_s, u"iam.amazonaws.com"_s },
        { u"X-Amz-Date"_s, u"20150830T123600Z"_s },
        { u"Authorization"_s,
            u"AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/iam/aws4_request, "
            "SignedHeaders=content-type;host;x-amz-date, "
            "Signature=5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"_s },
    };
    QCOMPARE(
        std::get<URLRequest>(signer.sign(request, exampleInstant)).headerFields(), expectedFields);
}

// botocore's SigV4Auth signed this request (same key, instant, region and service) with this
// signature. The sent query keeps its order, an item without "=" is signed as "name=".
void TestAWSURLRequestSigner::shouldMatchBotocoreOnReservedCharacters()
{
    QUrl url(u"https://redshift.us-west-2.amazonaws.com/"_s);
    setQueryItems(url,
        { { u"DbUser"_s, u"a+b/c=d&e f é"_s }, { u"DbGroups.DbGroup.2"_s, u"z"_s },
            { u"DbGroups.DbGroup.10"_s, u"y"_s }, { u"DbGroups.DbGroup.1"_s, u"x"_s },
            { u"AutoCreate"_s, std::nullopt }, { u"Action"_s, u"GetClusterCredentials"_s } });
    const SigningStages stages = stagesOf(postRequest(url.toEncoded()));
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

void TestAWSURLRequestSigner::shouldStampUtcWhateverZoneAndLocale_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("instant");
    QTest::addColumn<QString>("timestamp");

    const QDateTime lastTenth(QDate(2015, 8, 30), QTime(23, 59, 59, 900), Qt::UTC);
    QTest::newRow("last tenth of a second of the day")
        << "UTC"_ba << u"C"_s << lastTenth << u"20150830T235959Z"_s;
    QTest::newRow("a tenth of a second later")
        << "UTC"_ba << u"C"_s << lastTenth.addMSecs(100) << u"20150831T000000Z"_s;
    // Already the next day in Kolkata; Arabic writes its own digits.
    QTest::newRow("last tenth in Kolkata, Arabic locale")
        << "Asia/Kolkata"_ba << u"ar_EG"_s << lastTenth << u"20150830T235959Z"_s;
}

void TestAWSURLRequestSigner::shouldStampUtcWhateverZoneAndLocale()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, locale);
    QFETCH(QDateTime, instant);
    QFETCH(QString, timestamp);

    const ScopedEnv tz("TZ", zone);
    tzset();
    QLocale::setDefault(QLocale(locale));
    const QDateTime local = instant.toLocalTime();
    QCOMPARE(local.offsetFromUtc() != 0, zone != "UTC");

    const SigningStages stages = stagesOf(postRequest("https://h/"_ba), local);
    QCOMPARE(stages.requestTimestamp, timestamp);
    QCOMPARE(stages.credentialScope, timestamp.first(8) + u"/us-west-2/redshift/aws4_request"_s);
}

void TestAWSURLRequestSigner::shouldCanonicaliseQueryAndHeaders_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("lines"); // from the query line to the last header line

    const QString date = u"x-amz-date:20150830T123600Z\n"_s;
    QTest::newRow("repeated names ordered by encoded value")
        << "https://h/?k=z&k=%C3%A9&k=&k"_ba << Fields {}
        << u"k=&k=&k=%C3%A9&k=z\nhost:h\n"_s + date;
    QTest::newRow("outer blanks trimmed, inner kept")
        << "https://h/"_ba << Fields { { u"My-Header"_s, u"\t\u00a0a \t b\u3000 "_s } }
        << u"\nhost:h\nmy-header:a \t b\n"_s + date;
    QTest::newRow("pre-existing Host and X-Amz-Date appended to")
        << "https://h/"_ba
        << Fields { { u"host"_s, u"example.com"_s }, { u"X-AMZ-DATE"_s, u"yesterday"_s } }
        << u"\nhost:example.com,h\nx-amz-date:yesterday,20150830T123600Z\n"_s;
    QTest::newRow("default port left out")
        << "https://h:443/"_ba << Fields {} << u"\nhost:h\n"_s + date;
    QTest::newRow("endpoint override port kept")
        << "http://127.0.0.1:8443/"_ba << Fields {} << u"\nhost:127.0.0.1:8443\n"_s + date;
    QTest::newRow("https port on http kept")
        << "http://h:443/"_ba << Fields {} << u"\nhost:h:443\n"_s + date;
    QTest::newRow("IPv6 bracketed")
        << "http://[::1]:8080/"_ba << Fields {} << u"\nhost:[::1]:8080\n"_s + date;
}

void TestAWSURLRequestSigner::shouldCanonicaliseQueryAndHeaders()
{
    QFETCH(QByteArray, url);
    QFETCH(Fields, fields);
    QFETCH(QString, lines);
    QCOMPARE(stagesOf(postRequest(url, fields)).canonicalRequest.section(u'\n', 2, -3), lines);
}

void TestAWSURLRequestSigner::shouldRefuseIncompleteRequest_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QDateTime>("instant");

    const QUrl url(u"https://h/"_s);
    QTest::newRow("no method") << QString() << url << exampleInstant;
    QTest::newRow("no URL") << u"POST"_s << QUrl() << exampleInstant;
    QTest::newRow("no host") << u"POST"_s << QUrl(u"path/only?a=1"_s) << exampleInstant;
    QTest::newRow("invalid signing time") << u"POST"_s << url << QDateTime();
}

void TestAWSURLRequestSigner::shouldRefuseIncompleteRequest()
{
    QFETCH(QString, method);
    QFETCH(QUrl, url);
    QFETCH(QDateTime, instant);
    URLRequest request(url);
    request.method = method;
    const auto result = redshiftSigner.sign(request, instant);
    QVERIFY(std::holds_alternative<SigningError>(result));
    QVERIFY(!std::get<SigningError>(result).description.isEmpty());
}

QTEST_GUILESS_MAIN(TestAWSURLRequestSigner)
#include "tst_awsurlrequestsigner.moc"
