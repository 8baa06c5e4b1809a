#pragma once

#include <QtTest>

// Fills the running _data function from a JSON case file: an array of rows (objects), or an
// object holding them as "cases" beside "about" (what the rows mean, for the reader) and
// "fixtures" (texts named once: "@name" in any string of the file stands for the text so named;
// a name is letters, digits and "_" and ends at any other character, an "@" before no
// fixture's name stays as written, and a fixture's text names no other fixture). Each row,
// named by its "tag", is handed to the test whole as the column "row".
inline void addTestCaseRows(const QString &path)
{
    QTest::addColumn<QJsonObject>("row");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    QString text = QString::fromUtf8(file.readAll());
    const QJsonObject fixtures = QJsonDocument::fromJson(text.toUtf8())[u"fixtures"].toObject();
    for (auto fixture = fixtures.begin(); fixture != fixtures.end(); ++fixture) {
        // Its text as it stands between the quotes of a JSON string.
        const QByteArray json
            = QJsonDocument(QJsonArray { *fixture }).toJson(QJsonDocument::Compact);
        text.replace(QRegularExpression(u'@' + fixture.key() + QStringLiteral("\\b")),
            QString::fromUtf8(json.mid(2, json.size() - 4)));
    }
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const QJsonArray rows = document.isArray() ? document.array() : document[u"cases"].toArray();
    QVERIFY2(!rows.isEmpty(), qPrintable(path));
    for (const QJsonValue &row : rows)
        QTest::newRow(qPrintable(row[u"tag"].toString())) << row.toObject();
}
