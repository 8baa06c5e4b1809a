#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// Fills the running _data function from a JSON case file: an array of objects (or an object
// holding it as "cases"), each one row named by its "tag", handed to the test whole as the
// column "row".
inline void addTestCaseRows(const QString &path)
{
    QTest::addColumn<QJsonObject>("row");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonArray rows = document.isArray() ? document.array() : document[u"cases"].toArray();
    QVERIFY2(!rows.isEmpty(), qPrintable(path));
    for (const QJsonValue &row : rows)
        QTest::newRow(qPrintable(row[u"tag"].toString())) << row.toObject();
}
