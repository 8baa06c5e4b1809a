#include "PasswordExpiry.h"

#include <QtTest>

using namespace Qt::StringLiterals;

// Local time is UTC+2 here (CMakeLists.txt sets TZ), so that local and UTC differ.
class TestPasswordExpiry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shouldTell_data()
    {
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("expiration");
        QTest::addColumn<QString>("text");
        const QString at = u"2024-05-01T10:00:00Z"_s;
        QTest::newRow("15 minutes") << at << u"2024-05-01T10:15:00Z"_s
                                    << u"The password expires at 12:15 (in 15 minutes)."_s;
        QTest::newRow("read a moment later, rounded")
            << u"2024-05-01T10:00:20Z"_s << u"2024-05-01T10:15:00Z"_s
            << u"The password expires at 12:15 (in 15 minutes)."_s;
        QTest::newRow("rounded down") << u"2024-05-01T10:00:40Z"_s << u"2024-05-01T10:15:00Z"_s
                                      << u"The password expires at 12:15 (in 14 minutes)."_s;
        QTest::newRow("one minute")
            << at << u"2024-05-01T10:01:00Z"_s << u"The password expires at 12:01 (in 1 minute)."_s;
        QTest::newRow("seconds") << at << u"2024-05-01T10:00:20Z"_s
                                 << u"The password expires at 12:00 (in less than a minute)."_s;
        QTest::newRow("90 minutes") << at << u"2024-05-01T11:30:00Z"_s
                                    << u"The password expires at 13:30 (in 90 minutes)."_s;
        QTest::newRow("hours") << at << u"2024-05-01T13:00:00Z"_s
                               << u"The password expires at 15:00 (in 3 hours)."_s;
        QTest::newRow("after local midnight: the date too")
            << u"2024-05-01T21:30:00Z"_s << u"2024-05-01T22:15:00Z"_s
            << u"The password expires at 2024-05-02 00:15 (in 45 minutes)."_s;
        QTest::newRow("days") << at << u"2024-05-11T10:00:00Z"_s
                              << u"The password expires at 2024-05-11 12:00 (in 10 days)."_s;
        QTest::newRow("already past")
            << at << u"2024-05-01T09:00:00Z"_s << u"The password expired at 11:00."_s;
    }

    void shouldTell()
    {
        QFETCH(QString, now);
        QFETCH(QString, expiration);
        QFETCH(QString, text);
        QCOMPARE(passwordExpiryText(QDateTime::fromString(expiration, Qt::ISODate),
                     QDateTime::fromString(now, Qt::ISODate)),
            text);
    }
};

QTEST_GUILESS_MAIN(TestPasswordExpiry)
#include "tst_passwordexpiry.moc"
