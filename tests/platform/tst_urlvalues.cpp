#include "URLQueryItem.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The query-item operations that the signer and the credentials request share.
class TestURLValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shouldReadAndWriteQueryItems_data();
    void shouldReadAndWriteQueryItems();
};

void TestURLValues::shouldReadAndWriteQueryItems_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<std::optional<URLQueryItems>>("items");
    // What setQueryItems writes for the items, when that is not the URL they were read from.
    QTest::addColumn<QByteArray>("written");

    using Items = std::optional<URLQueryItems>;
    QTest::newRow("no query") << "https://h/"_ba << Items() << QByteArray();
    QTest::newRow("question mark alone")
        << "https://h/?"_ba << Items(URLQueryItems {}) << "https://h/"_ba;
    QTest::newRow("absent and empty value, URL order")
        << "https://h/?flag&empty=&a=1"_ba
        << Items({ { u"flag"_s, std::nullopt }, { u"empty"_s, u""_s }, { u"a"_s, u"1"_s } })
        << QByteArray();
    QTest::newRow("reserved characters and UTF-8")
        << "https://h/?v=a%2Bb%2Fc%3Dd%26e%20f&%C3%A9=%E1%88%B4"_ba
        << Items({ { u"v"_s, u"a+b/c=d&e f"_s }, { u"é"_s, u"ሴ"_s } }) << QByteArray();
    QTest::newRow("plus stays plus")
        << "https://h/?a=1+2&b+c=d"_ba << Items({ { u"a"_s, u"1+2"_s }, { u"b+c"_s, u"d"_s } })
        << "https://h/?a=1%2B2&b%2Bc=d"_ba;
    QTest::newRow("empty items keep their separators")
        << "https://h/?&a=1&&=v"_ba
        << Items({ { u""_s, std::nullopt }, { u"a"_s, u"1"_s }, { u""_s, std::nullopt },
               { u""_s, u"v"_s } })
        << QByteArray();
    QTest::newRow("escapes decoded, first equals splits")
        << "https://h/?k%3D=v=w%26%20%C3%A9"_ba << Items({ { u"k="_s, u"v=w& é"_s } })
        << "https://h/?k%3D=v%3Dw%26%20%C3%A9"_ba;
}

void TestURLValues::shouldReadAndWriteQueryItems()
{
    QFETCH(QByteArray, url);
    QFETCH(std::optional<URLQueryItems>, items);
    QFETCH(QByteArray, written);
    QCOMPARE(queryItems(QUrl::fromEncoded(url, QUrl::StrictMode)), items);
    if (!items)
        return;
    QUrl rewritten(u"https://h/"_s);
    setQueryItems(rewritten, *items);
    QCOMPARE(rewritten.toEncoded(), written.isNull() ? url : written);
}

QTEST_GUILESS_MAIN(TestURLValues)
#include "tst_urlvalues.moc"
