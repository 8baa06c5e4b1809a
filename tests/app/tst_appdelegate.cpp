#include "AppDelegate.h"
#include "CredentialsEndpoint.h"
#include "MainWindow.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString failureMessage = u"Failed to get credentials from AWS"_s;

// The window's desktop services with the two effects that leave the process recorded
// instead: opening a URL and the beep. Alerts stay real message boxes.
class ObservedDesktopServices : public QtDesktopServices {
public:
    void openURL(const QUrl &url) override { openedURLs.append(url); }
    void beep() override { ++beeps; }

    QList<QUrl> openedURLs;
    int beeps = 0;
};

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_endpoint = std::make_unique<CredentialsEndpoint>();
        m_window = std::make_unique<MainWindow>();
        auto desktop = std::make_unique<ObservedDesktopServices>();
        m_desktop = desktop.get();
        m_delegate = std::make_unique<AppDelegate>(std::move(desktop));
        m_delegate->loadInterface(m_window.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

        m_urlField = m_window->findChild<QLineEdit *>(u"urlField"_s);
        m_connectButton = m_window->findChild<QPushButton *>(u"connectButton"_s);
        m_cancelButton = m_window->findChild<QPushButton *>(u"cancelButton"_s);
        m_progressIndicator = m_window->findChild<QProgressBar *>(u"progressIndicator"_s);
        QVERIFY(m_urlField && m_connectButton && m_cancelButton && m_progressIndicator);
        verifyIdle();
    }

    void cleanup()
    {
        m_delegate->cancel();
        QTRY_VERIFY(!m_delegate->connectFlow().isBusy());
        m_delegate.reset();
        m_window.reset();
        m_endpoint.reset();
    }

    void shouldShowAlertSheet_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("messageText");
        QTest::addColumn<QString>("informativeText");

        QTest::newRow("empty field")
            << QString() << u"No URL"_s << u"Please paste or type an URL into the text field"_s;
        QTest::newRow("markup in the text stays text")
            << u"<b>bold</b> x"_s << u"Malformed URL"_s << u"<b>bold</b> x is not a valid URL"_s;
        QTest::newRow("service refusal")
            << CredentialsEndpoint::iamURL() << failureMessage << u"Denied\n"_s;
    }

    void shouldShowAlertSheet()
    {
        QFETCH(QString, text);
        QFETCH(QString, messageText);
        QFETCH(QString, informativeText);

        m_endpoint->reply(
            403, "<ErrorResponse><Error><Message>Denied</Message></Error></ErrorResponse>");
        connectWith(text);

        QTRY_VERIFY(alertSheet());
        QMessageBox *sheet = alertSheet();
        QCOMPARE(sheet->text(), messageText);
        QCOMPARE(sheet->informativeText(), informativeText);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->textFormat(), Qt::PlainText);
        const auto *informativeLabel = sheet->findChild<QLabel *>(u"qt_msgbox_informativelabel"_s);
        QVERIFY(informativeLabel);
        QCOMPARE(informativeLabel->textFormat(), Qt::PlainText);
        dismissAlertSheet();
        verifyIdle();
        QCOMPARE(m_urlField->text(), text);
        QVERIFY(m_desktop->openedURLs.isEmpty());
    }

    void shouldConnectAndCancel()
    {
        m_endpoint->neverAnswer();
        QTest::keyClicks(m_urlField, CredentialsEndpoint::iamURL());
        // The window stays responsive while the service is silent: its event loop never
        // stalls (a generous bound, to catch blocking work, not to time anything).
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this,
            [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        ticker.start(10);
        sinceTick.start();
        QTest::keyClick(m_urlField, Qt::Key_Return);
        QTRY_COMPARE(m_endpoint->server.requests().size(), 1);
        QTest::qWait(200);
        QVERIFY2(longestStall < 2000, qPrintable(QString::number(longestStall)));
        QVERIFY(!m_connectButton->isEnabled());
        QVERIFY(m_progressIndicator->isVisible());
        QCOMPARE(m_progressIndicator->maximum(), 0);

        // While busy, neither Return nor the button starts a second request.
        QTest::keyClick(m_urlField, Qt::Key_Return);
        QTest::mouseClick(m_connectButton, Qt::LeftButton);
        QTest::mouseClick(m_cancelButton, Qt::LeftButton);
        QTRY_VERIFY(alertSheet());
        QCOMPARE(alertSheet()->text(), failureMessage);
        QCOMPARE(alertSheet()->informativeText(), u"The request was cancelled.\n"_s);
        verifyIdle();
        dismissAlertSheet();
        QCOMPARE(m_endpoint->server.requests().size(), 1);

        m_endpoint->replyCredentials(u"IAM:alice"_s, u"pw"_s);
        QTest::mouseClick(m_connectButton, Qt::LeftButton);
        QTRY_COMPARE(m_desktop->openedURLs.size(), 1);
        QCOMPARE(m_endpoint->server.requests().size(), 2);
        QCOMPARE(m_desktop->openedURLs.constFirst().scheme(), u"postgres"_s);
        QCOMPARE(m_desktop->openedURLs.constFirst().userName(), u"IAM:alice"_s);
        verifyIdle();
        QVERIFY(!alertSheet());
    }

    void shouldStayIdleWithoutValidInput()
    {
        QTest::mouseClick(m_cancelButton, Qt::LeftButton);
        QCoreApplication::processEvents();
        QVERIFY(!alertSheet());

        // "redsh" is only a beginning of what the validator accepts: editing cannot end.
        m_urlField->setValidator(
            new QRegularExpressionValidator(QRegularExpression(u"redshift:iam:.+"_s), m_urlField));
        connectWith(u"redsh"_s);
        QCOMPARE(m_desktop->beeps, 1);
        QVERIFY(!alertSheet());
        verifyIdle();
        QCOMPARE(m_endpoint->server.requests().size(), 0);
    }

private:
    QMessageBox *alertSheet() const { return m_window->findChild<QMessageBox *>(); }

    void dismissAlertSheet()
    {
        QMessageBox *sheet = alertSheet();
        QVERIFY(sheet);
        QCOMPARE(sheet->buttons().size(), 1);
        sheet->buttons().constFirst()->click();
        QTRY_VERIFY(!alertSheet());
    }

    void connectWith(const QString &text)
    {
        m_urlField->clear();
        QTest::keyClicks(m_urlField, text);
        QCOMPARE(m_urlField->text(), text);
        QTest::mouseClick(m_connectButton, Qt::LeftButton);
    }

    void verifyIdle() const
    {
        QVERIFY(m_connectButton->isEnabled());
        QVERIFY(!m_progressIndicator->isVisible());
    }

    std::unique_ptr<CredentialsEndpoint> m_endpoint;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AppDelegate> m_delegate;
    ObservedDesktopServices *m_desktop = nullptr;
    QLineEdit *m_urlField = nullptr;
    QPushButton *m_connectButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
