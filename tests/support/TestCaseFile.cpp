#include "TestCaseFile.h"

#include <QFile>
#include <QtTest>

void addTestCaseRows(
    const QString &path, const QString &section, std::initializer_list<const char *> columns)
{
    for (const char *column : columns)
        QTest::addColumn<QString>(column);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    bool inSection = false;
    int rows = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(u'[')) {
            inSection = lines.at(i).startsWith(u'[' + section + u']');
        } else if (inSection && lines.at(i).startsWith(QLatin1String("== "))) {
            QTestData &row = QTest::newRow(lines.at(i).mid(3).toUtf8().constData());
            for (qsizetype column = 1; column <= qsizetype(columns.size()); ++column)
                row << QString(lines.value(i + column))
                           .replace(QLatin1String("\\n"), QLatin1String("\n"))
                           .replace(QLatin1String("\\r"), QLatin1String("\r"));
            i += qsizetype(columns.size());
            ++rows;
        }
    }
    QVERIFY2(rows > 0, qPrintable(section));
}
