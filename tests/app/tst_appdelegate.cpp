#include "AppDelegate.h"
#include "MainWindow.h"
#include "ScopedEnv.h"
#include "TestHttpServer.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QtTest>

#include <memory>

namespace {

const QString iamURL = QStringLiteral(
    "jdbc:redshift:iam://examplecluster.abc123xyz789.us-west-2.redshift.amazonaws.com:5439/dev"
    "?AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI&DbUser=alice");

// The window's desktop services with the two effects that leave the process recorded
// instead: opening a URL and the beep. Alerts stay real message boxes.
class ObservedDesktopServices : public QtDesktopServices {
public:
    void openURL(const QUrl &url) override { openedURLs.append(url); }
    void beep() override { ++beeps; }

    QList<QUrl> openedURLs;
    int beeps = 0;
};

CannedReply cannedReply(int status, const QByteArray &body)
{
    CannedReply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void shouldShowAlertSheet_data();
    void shouldShowAlertSheet();
    void shouldConnectOnReturn();
    void shouldCancelRequestInFlight();
    void shouldBeepWhenValidatorRefuses();
    void shouldDoNothingOnCancelWhenIdle();

private:
    QMessageBox *alertSheet() const { return m_window->findChild<QMessageBox *>(); }
    void dismissAlertSheet();
    void connectWith(const QString &text);

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<ScopedEnv> m_endpoint;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<AppDelegate> m_delegate;
    ObservedDesktopServices *m_desktop = nullptr;
    QLineEdit *m_urlField = nullptr;
    QPushButton *m_connectButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QProgressBar *m_progressIndicator = nullptr;
};

void TestAppDelegate::initTestCase()
{
    for (const char *name : { "http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "AWS_ENDPOINT_URL_REDSHIFT", "AWS_CA_BUNDLE" })
        qunsetenv(name);
}

void TestAppDelegate::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_server->setReply(cannedReply(200,
        "<GetClusterCredentialsResponse><GetClusterCredentialsResult>"
        "<DbUser>IAM:alice</DbUser><DbPassword>pw</DbPassword>"
        "</GetClusterCredentialsResult></GetClusterCredentialsResponse>"));
    m_endpoint = std::make_unique<ScopedEnv>("AWS_ENDPOINT_URL", m_server->url().toEncoded());

    m_window = std::make_unique<MainWindow>();
    auto desktop = std::make_unique<ObservedDesktopServices>();
    m_desktop = desktop.get();
    m_delegate = std::make_unique<AppDelegate>(std::move(desktop));
    m_delegate->loadInterface(m_window.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    m_urlField = m_window->findChild<QLineEdit *>(QStringLiteral("urlField"));
    m_connectButton = m_window->findChild<QPushButton *>(QStringLiteral("connectButton"));
    m_cancelButton = m_window->findChild<QPushButton *>(QStringLiteral("cancelButton"));
    m_progressIndicator = m_window->findChild<QProgressBar *>(QStringLiteral("progressIndicator"));
    QVERIFY(m_urlField && m_connectButton && m_cancelButton && m_progressIndicator);
    QCOMPARE(m_delegate->urlField(), m_urlField);
    QCOMPARE(m_delegate->connectButton(), m_connectButton);
    QCOMPARE(m_delegate->progressIndicator(), m_progressIndicator);
    QCOMPARE(m_delegate->window(), m_window.get());
    QVERIFY(!m_progressIndicator->isVisible());
}

void TestAppDelegate::cleanup()
{
    if (m_delegate->connectFlow().isBusy()) {
        m_delegate->cancel();
        QTRY_VERIFY(!m_delegate->connectFlow().isBusy());
    }
    m_delegate.reset();
    m_window.reset();
    m_endpoint.reset();
    m_server.reset();
}

void TestAppDelegate::dismissAlertSheet()
{
    QMessageBox *sheet = alertSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->buttons().size(), 1);
    sheet->buttons().constFirst()->click();
    QTRY_VERIFY(!alertSheet());
}

void TestAppDelegate::connectWith(const QString &text)
{
    m_urlField->clear();
    QTest::keyClicks(m_urlField, text);
    QCOMPARE(m_urlField->text(), text);
    QTest::mouseClick(m_connectButton, Qt::LeftButton);
}

void TestAppDelegate::shouldShowAlertSheet_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("messageText");
    QTest::addColumn<QString>("informativeText");

    QTest::newRow("empty field") << QString() << QStringLiteral("No URL")
                                 << QStringLiteral(
                                        "Please paste or type an URL into the text field");
    QTest::newRow("markup in the text stays text")
        << QStringLiteral("<b>bold</b> x") << QStringLiteral("Malformed URL")
        << QStringLiteral("<b>bold</b> x is not a valid URL");
    QTest::newRow("service refusal")
        << iamURL << QStringLiteral("Failed to get credentials from AWS")
        << QStringLiteral("Denied\n");
}

void TestAppDelegate::shouldShowAlertSheet()
{
    QFETCH(QString, text);
    QFETCH(QString, messageText);
    QFETCH(QString, informativeText);

    m_server->setReply(cannedReply(
        403, "<ErrorResponse><Error><Message>Denied</Message></Error></ErrorResponse>"));
    connectWith(text);

    QTRY_VERIFY(alertSheet());
    QMessageBox *sheet = alertSheet();
    QCOMPARE(sheet->text(), messageText);
    QCOMPARE(sheet->informativeText(), informativeText);
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(sheet->textFormat(), Qt::PlainText);
    const auto *informativeLabel
        = sheet->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    QVERIFY(informativeLabel);
    QCOMPARE(informativeLabel->textFormat(), Qt::PlainText);
    dismissAlertSheet();

    QVERIFY(m_connectButton->isEnabled());
    QVERIFY(!m_progressIndicator->isVisible());
    QCOMPARE(m_urlField->text(), text);
    QVERIFY(m_desktop->openedURLs.isEmpty());
}

void TestAppDelegate::shouldConnectOnReturn()
{
    CannedReply silent;
    silent.neverAnswer = true;
    m_server->setReply(silent);

    QTest::keyClicks(m_urlField, iamURL);
    QTest::keyClick(m_urlField, Qt::Key_Return);
    QTRY_COMPARE(m_server->requests().size(), 1);
    QVERIFY(!m_connectButton->isEnabled());
    QVERIFY(m_progressIndicator->isVisible());
    QCOMPARE(m_progressIndicator->maximum(), 0);

    // While busy, neither Return nor the button starts a second request.
    QTest::keyClick(m_urlField, Qt::Key_Return);
    QTest::mouseClick(m_connectButton, Qt::LeftButton);
    m_delegate->cancel();
    QTRY_VERIFY(alertSheet());
    dismissAlertSheet();
    QCOMPARE(m_server->requests().size(), 1);

    // A new connect after the failure starts a new request and opens the connection URL.
    m_server->setReply(
        cannedReply(200, "<R><DbUser>IAM:alice</DbUser><DbPassword>pw</DbPassword></R>"));
    QTest::keyClick(m_urlField, Qt::Key_Return);
    QTRY_COMPARE(m_desktop->openedURLs.size(), 1);
    QCOMPARE(m_server->requests().size(), 2);
    QCOMPARE(m_desktop->openedURLs.constFirst().userName(), QStringLiteral("IAM:alice"));
    QCOMPARE(m_desktop->openedURLs.constFirst().scheme(), QStringLiteral("postgres"));
    QVERIFY(m_connectButton->isEnabled());
    QVERIFY(!m_progressIndicator->isVisible());
    QVERIFY(!alertSheet());
}

void TestAppDelegate::shouldCancelRequestInFlight()
{
    CannedReply silent;
    silent.neverAnswer = true;
    m_server->setReply(silent);

    connectWith(iamURL);
    QTRY_COMPARE(m_server->requests().size(), 1);
    QTest::mouseClick(m_cancelButton, Qt::LeftButton);

    QTRY_VERIFY(alertSheet());
    QCOMPARE(alertSheet()->text(), QStringLiteral("Failed to get credentials from AWS"));
    QVERIFY2(alertSheet()->informativeText().endsWith(QLatin1Char('\n')),
        qPrintable(alertSheet()->informativeText()));
    QVERIFY(m_connectButton->isEnabled());
    QVERIFY(!m_progressIndicator->isVisible());
    dismissAlertSheet();
    QVERIFY(m_desktop->openedURLs.isEmpty());
}

void TestAppDelegate::shouldBeepWhenValidatorRefuses()
{
    // "redsh" is only a beginning of what the validator accepts: editing cannot end.
    m_urlField->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("redshift:iam:.+")), m_urlField));
    connectWith(QStringLiteral("redsh"));

    QCOMPARE(m_desktop->beeps, 1);
    QVERIFY(!alertSheet());
    QVERIFY(m_connectButton->isEnabled());
    QCOMPARE(m_server->requests().size(), 0);
}

void TestAppDelegate::shouldDoNothingOnCancelWhenIdle()
{
    QTest::mouseClick(m_cancelButton, Qt::LeftButton);
    QCoreApplication::processEvents();

    QVERIFY(!alertSheet());
    QCOMPARE(m_desktop->beeps, 0);
    QVERIFY(m_connectButton->isEnabled());
}

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
