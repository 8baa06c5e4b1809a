#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// Fills the running _data function from a JSON case file: an array of objects, each one row
// named by its "tag", handed to the test whole as the column "row".
inline void addTestCaseRows(const QString &path)
{
    QTest::addColumn<QJsonObject>("row");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
    QVERIFY2(!rows.isEmpty(), qPrintable(path));
    for (const QJsonValue &row : rows)
        QTest::newRow(qPrintable(row[u"tag"].toString())) << row.toObject();
}
