#include "AppDelegate.h"
#include "MainWindow.h"
#include "RecordingOpener.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QMessageBox>
#include <QProgressBar>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAppDelegate : public QObject {
    Q_OBJECT

    const ScopedEnv m_network { cleanNetwork };
    TestHttpServer m_server;
    ScopedEnv m_endpoint { "AWS_ENDPOINT_URL", m_server.url().toEncoded() };
    const QString m_iamURL
        = u"jdbc:redshift:iam://c.x.us-west-2.redshift.amazonaws.com:5439/dev?"_s;
    RecordingOpener m_opener;
    MainWindow m_window;
    AppDelegate m_delegate { m_window };
    QTemporaryDir m_home;

    QMessageBox *alertSheet() const { return m_window.findChild<QMessageBox *>(); }

    void dismissAlertSheet(const QString &messageText, const QString &informativeStart)
    {
        QTRY_VERIFY(alertSheet());
        QCOMPARE(alertSheet()->text(), messageText);
        QVERIFY2(alertSheet()->informativeText().startsWith(informativeStart),
            qPrintable(alertSheet()->informativeText()));
        QCOMPARE(alertSheet()->windowModality(), Qt::WindowModal);
        QCOMPARE(alertSheet()->buttons().size(), 1);
        alertSheet()->buttons().constFirst()->click();
        QTRY_VERIFY(!alertSheet());
    }

    bool isBusy() const
    {
        return !m_window.connectButton()->isEnabled() && m_window.progressIndicator()->isVisible();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server.setReply(
            { 200, {}, "<R><DbUser>IAM:alice</DbUser><DbPassword>secret</DbPassword></R>" });
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    }

    // A paste longer than a line edit keeps by default reaches the opener whole.
    void shouldTakeLongPaste()
    {
        const QString url = u"https://example.com/?q="_s + QString(40000, u'a');
        QGuiApplication::clipboard()->setText(url);
        m_window.urlField()->setFocus();
        QTest::keySequence(m_window.urlField(), QKeySequence::Paste);
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        QTRY_COMPARE(m_opener.openedURL(), url.toUtf8());
    }

    // A connect that succeeded, then one whose credential process hangs: the window stays
    // responsive and busy, Return does nothing more, and Cancel reaches the new step.
    void shouldConnectThenCancel()
    {
        m_window.urlField()->setText(
            m_iamURL + u"AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI"_s);
        QTest::mouseClick(m_window.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(m_opener.openedURL().startsWith("postgres://IAM%3Aalice:secret@"));
        QTRY_VERIFY(!isBusy());

        QFile config(m_home.filePath(u"config"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[profile slow]\ncredential_process = /bin/sh -c '/bin/touch \"$0\"; exec "
                     "/bin/sleep 300' "
            + m_home.filePath(u"started"_s).toUtf8() + '\n');
        config.close();
        const ScopedEnv configFile("AWS_CONFIG_FILE", m_home.filePath(u"config"_s).toUtf8());
        m_window.urlField()->setText(m_iamURL + u"Profile=slow"_s);
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this,
            [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        ticker.start(10);
        sinceTick.start();
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        QTRY_VERIFY(QFile::exists(m_home.filePath(u"started"_s)));
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        QTest::qWait(200);
        QVERIFY(isBusy());
        // A generous bound, to catch blocking work, not to time anything.
        QVERIFY2(longestStall < 2000, qPrintable(QString::number(longestStall)));
        QTest::mouseClick(m_window.cancelButton(), Qt::LeftButton);
        dismissAlertSheet(
            u"Failed to get credentials from AWS"_s, u"The request was cancelled.\n"_s);
        QVERIFY(!isBusy());
        QCOMPARE(m_server.requests().size(), 1);
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
