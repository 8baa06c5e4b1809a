#include "AppDelegate.h"
#include "CredentialsEndpoint.h"
#include "MainWindow.h"
#include "RecordingOpener.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QMessageBox>
#include <QProgressBar>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAppDelegate : public QObject {
    Q_OBJECT

    CredentialsEndpoint m_endpoint;
    RecordingOpener m_opener;
    MainWindow m_window;
    AppDelegate m_delegate { m_window };

    QMessageBox *alertSheet() const { return m_window.findChild<QMessageBox *>(); }

    void dismissAlertSheet(const QString &informativeText)
    {
        QTRY_VERIFY(alertSheet());
        QCOMPARE(alertSheet()->informativeText(), informativeText);
        QCOMPARE(alertSheet()->windowModality(), Qt::WindowModal);
        QCOMPARE(alertSheet()->buttons().size(), 1);
        alertSheet()->buttons().constFirst()->click();
        QTRY_VERIFY(!alertSheet());
    }

    bool isBusy() const
    {
        return !m_window.connectButton()->isEnabled() && m_window.progressIndicator()->isVisible();
    }
    bool isIdle() const
    {
        return m_window.connectButton()->isEnabled() && !m_window.progressIndicator()->isVisible();
    }

private Q_SLOTS:
    void initTestCase()
    {
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

    // A connect that succeeded, then one that is cancelled while the service is silent: the
    // window stays responsive, Cancel reaches the second request, and the alert is a sheet.
    void shouldConnectThenCancel()
    {
        m_window.urlField()->setText(CredentialsEndpoint::iamURL());
        QTest::mouseClick(m_window.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(m_opener.openedURL().startsWith("postgres://IAM%3Aalice:secret@"));
        QTRY_VERIFY(isIdle());

        m_endpoint.neverAnswer();
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this,
            [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        ticker.start(10);
        sinceTick.start();
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        QTRY_COMPARE(m_endpoint.server.requests().size(), 2);
        QVERIFY(isBusy());
        QTest::keyClick(m_window.urlField(), Qt::Key_Return); // ignored while busy
        QTest::qWait(100);
        // A generous bound, to catch blocking work, not to time anything.
        QVERIFY2(longestStall < 2000, qPrintable(QString::number(longestStall)));
        QTest::mouseClick(m_window.cancelButton(), Qt::LeftButton);
        dismissAlertSheet(u"The request was cancelled.\n"_s);
        QVERIFY(isIdle());
        QCOMPARE(m_endpoint.server.requests().size(), 2);
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
