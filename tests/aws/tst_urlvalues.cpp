#include "URLQueryItem.h"
#include "URLRequest.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The query-item and request operations that the signer and the credentials request share.
class TestURLValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shouldReadQueryItems_data();
    void shouldReadQueryItems();
    void shouldKeepEscapesAsWritten_data();
    void shouldKeepEscapesAsWritten();
    void shouldAppendHeaderValuesWithComma();
};

static URLQueryItem item(const QString &name, std::optional<QString> value)
{
    return { name, std::move(value) };
}

void TestURLValues::shouldReadQueryItems_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<std::optional<URLQueryItems>>("expected");

    QTest::newRow("no query") << "https://h/path"_ba << std::optional<URLQueryItems>();
    QTest::newRow("question mark alone") << "https://h/?"_ba << std::optional(URLQueryItems {});
    QTest::newRow("absent and empty value")
        << "https://h/?flag&empty=&x=1"_ba
        << std::optional(URLQueryItems {
               item(u"flag"_s, std::nullopt), item(u"empty"_s, u""_s), item(u"x"_s, u"1"_s) });
    QTest::newRow("plus stays plus")
        << "https://h/?a=1+2&b+c=d"_ba
        << std::optional(URLQueryItems { item(u"a"_s, u"1+2"_s), item(u"b+c"_s, u"d"_s) });
    QTest::newRow("escapes decoded, first equals splits")
        << "https://h/?k%3D=v=w%26%20%C3%A9"_ba
        << std::optional(URLQueryItems { item(u"k="_s, u"v=w& é"_s) });
    QTest::newRow("URL order kept") << "https://h/?b=2&a=1&b=0"_ba
                                    << std::optional(URLQueryItems { item(u"b"_s, u"2"_s),
                                           item(u"a"_s, u"1"_s), item(u"b"_s, u"0"_s) });
}

void TestURLValues::shouldReadQueryItems()
{
    QFETCH(QByteArray, url);
    QFETCH(std::optional<URLQueryItems>, expected);
    const QUrl parsed = QUrl::fromEncoded(url, QUrl::StrictMode);
    QVERIFY(parsed.isValid());
    const std::optional<URLQueryItems> items = queryItems(parsed);
    QCOMPARE(items.has_value(), expected.has_value());
    if (items)
        QCOMPARE(*items, *expected);
}

void TestURLValues::shouldKeepEscapesAsWritten_data()
{
    QTest::addColumn<URLQueryItems>("items");
    QTest::addColumn<QByteArray>("query");

    QTest::newRow("reserved characters")
        << URLQueryItems { item(u"v"_s, u"a+b/c=d&e f"_s) } << "v=a%2Bb%2Fc%3Dd%26e%20f"_ba;
    QTest::newRow("UTF-8") << URLQueryItems { item(u"é"_s, u"ሴ"_s) } << "%C3%A9=%E1%88%B4"_ba;
    QTest::newRow("unreserved left alone")
        << URLQueryItems { item(u"A-Z_a.z~09"_s, std::nullopt) } << "A-Z_a.z~09"_ba;
    QTest::newRow("list order, absent and empty values")
        << URLQueryItems { item(u"b"_s, std::nullopt), item(u"a"_s, u""_s),
               item(u"Action"_s, u"GetClusterCredentials"_s) }
        << "b&a=&Action=GetClusterCredentials"_ba;
}

void TestURLValues::shouldKeepEscapesAsWritten()
{
    QFETCH(URLQueryItems, items);
    QFETCH(QByteArray, query);
    QCOMPARE(encodedQuery(items), query);

    QUrl url(u"https://redshift.us-west-2.amazonaws.com/"_s);
    setQueryItems(url, items);
    QVERIFY(url.isValid());
    QCOMPARE(url.query(QUrl::FullyEncoded).toLatin1(), query);
    QCOMPARE(url.toEncoded(), "https://redshift.us-west-2.amazonaws.com/?"_ba + query);
    QCOMPARE(queryItems(url), std::optional(items));
}

void TestURLValues::shouldAppendHeaderValuesWithComma()
{
    URLRequest request(QUrl(u"https://h/"_s));
    QCOMPARE(request.timeout, std::chrono::seconds(60));
    request.addValue(u"a"_s, u"Host"_s);
    request.addValue(u"text/plain"_s, u"Content-Type"_s);
    request.addValue(u"b"_s, u"HOST"_s);
    request.addValue(u""_s, u"host"_s);

    QCOMPARE(request.value(u"hOsT"_s), std::optional(u"a,b,"_s));
    QCOMPARE(request.value(u"Date"_s), std::nullopt);
    const QList<URLRequest::HeaderField> expected { { u"Host"_s, u"a,b,"_s },
        { u"Content-Type"_s, u"text/plain"_s } };
    QCOMPARE(request.headerFields(), expected);
}

QTEST_GUILESS_MAIN(TestURLValues)
#include "tst_urlvalues.moc"
