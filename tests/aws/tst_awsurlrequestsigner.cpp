#include "AWSURLRequestSigner.h"
#include "ScopedEnv.h"
#include "TestCases.h"

#include <QtTest>

#include <ctime>

using namespace Qt::StringLiterals;

class TestAWSURLRequestSigner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shouldMatchSigningTestSuite_data()
    {
        QTest::addColumn<QString>("folder");
        const QDir suite(QFINDTESTDATA("sigv4"));
        const QStringList cases = suite.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY(cases.contains(u"get-vanilla"_s));
        for (const QString &name : cases)
            QTest::newRow(qPrintable(name)) << suite.filePath(name);
    }

    void shouldMatchSigningTestSuite()
    {
        QFETCH(QString, folder);
        const auto read = [&folder](const char *name) {
            QFile file(folder + u'/' + QLatin1StringView(name));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QJsonObject context = QJsonDocument::fromJson(read("context.json")).object();
        const QJsonValue credentials = context[u"credentials"_s];
        const QString raw = QString::fromUtf8(read("request.txt"));

        // The request line and header lines, a blank line, the body. A line that starts with
        // whitespace continues the value above it; a name written again adds a value. The
        // signer adds Host itself; the suite's signer adds the body hash where asked.
        QStringList lines = raw.section(u"\n\n"_s, 0, 0).trimmed().split(u'\n');
        const QString requestLine = lines.takeFirst();
        QList<URLRequest::HeaderField> fields;
        for (const QString &line : std::as_const(lines)) {
            if (line.front().isSpace())
                fields.last().second += u'\n' + line;
            else
                fields.append({ line.section(u':', 0, 0), line.section(u':', 1) });
        }
        URLRequest request;
        request.method = requestLine.section(u' ', 0, 0);
        for (const auto &[name, value] : std::as_const(fields)) {
            if (name.compare(u"Host"_s, Qt::CaseInsensitive) == 0)
                request.url = QUrl(u"https://"_s + value + requestLine.section(u' ', 1, -2));
            else
                request.addValue(value, name);
        }
        request.body = raw.section(u"\n\n"_s, 1).toUtf8();
        const QByteArray bodyHash
            = QCryptographicHash::hash(request.body.value_or(""), QCryptographicHash::Sha256);
        if (context[u"sign_body"_s].toBool())
            request.addValue(QString::fromLatin1(bodyHash.toHex()), u"X-Amz-Content-Sha256"_s);

        const AWSURLRequestSigner signer(context[u"service"_s].toString(),
            context[u"region"_s].toString(),
            { credentials[u"access_key_id"_s].toString(),
                credentials[u"secret_access_key"_s].toString(),
                credentials[u"token"_s].toString() });
        const auto stages = std::get<SigningStages>(signer.signingStages(
            request, QDateTime::fromString(context[u"timestamp"_s].toString(), Qt::ISODate)));
        QCOMPARE(stages.canonicalRequest, QString::fromUtf8(read("header-canonical-request.txt")));
        QCOMPARE(stages.stringToSign, QString::fromUtf8(read("header-string-to-sign.txt")));
        QCOMPARE(stages.signature, QString::fromUtf8(read("header-signature.txt")));
    }

    // Each row: method, URL as sent, secret key, session token, TZ and default locale, the
    // signing instant (UTC; empty for an invalid one) and the header fields of the signed
    // request ("refused" when sign refuses), with AKIDEXAMPLE in us-west-2 for redshift. Every
    // Authorization value is the one botocore 1.29's SigV4Auth writes (/usr/bin/python3,
    // Credentials(key, secret, token), its clock fixed at the instant) for the same request.
    void shouldSign_data() { addTestCaseRows(QFINDTESTDATA("signer-cases.json")); }

    void shouldSign()
    {
        QFETCH(QJsonObject, row);
        const auto text = [&row](const char *name) {
            return row[QLatin1StringView(name)].toString();
        };
        const QString zone = text("zone");
        // Made first so that it runs last, once TZ is restored.
        const auto restore = qScopeGuard([] {
            tzset();
            QLocale::setDefault(QLocale::system());
        });
        const ScopedEnv tz("TZ", zone.toUtf8());
        tzset();
        QLocale::setDefault(QLocale(text("locale")));
        const QDateTime now
            = QDateTime::fromString(text("instant"), Qt::ISODateWithMs).toLocalTime();
        QCOMPARE(now.offsetFromUtc() != 0, zone != u"UTC"_s);

        URLRequest request(QUrl::fromEncoded(text("url").toUtf8(), QUrl::StrictMode));
        request.method = text("method");
        const auto result = AWSURLRequestSigner(
            u"redshift"_s, u"us-west-2"_s, { u"AKIDEXAMPLE"_s, text("secret"), text("token") })
                                .sign(request, now);
        const auto *error = std::get_if<SigningError>(&result);
        QString fields = error && !error->description.isEmpty() ? u"refused"_s : QString();
        if (const auto *signedRequest = std::get_if<URLRequest>(&result)) {
            QCOMPARE(signedRequest->url, request.url);
            for (const auto &[name, value] : signedRequest->headerFields())
                fields += name + u": "_s + value + u'\n';
        }
        QCOMPARE(fields, text("sent"));
    }
};

QTEST_GUILESS_MAIN(TestAWSURLRequestSigner)
#include "tst_awsurlrequestsigner.moc"
