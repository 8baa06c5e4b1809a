#include "AppDelegate.h"
#include "CredentialsEndpoint.h"
#include "MainWindow.h"
#include "RecordingOpener.h"
#include "ScopedEnv.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QMessageBox>
#include <QProgressBar>
#include <QStandardPaths>
#include <QtTest>

#include <list>

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

    // A slow credential process runs while the window stays responsive; Cancel kills it.
    void shouldStayResponsiveDuringACredentialProcess()
    {
        const QTemporaryDir home;
        const QString started = home.filePath(u"started"_s);
        QFile config(home.filePath(u"config"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[profile slow]\ncredential_process = /bin/sh -c '/bin/touch \"$0\"; exec "
                     "/bin/sleep 300' "
            + started.toUtf8() + '\n');
        config.close();
        const ScopedEnv configFile("AWS_CONFIG_FILE", config.fileName().toUtf8());
        const ScopedEnv credentialsFile(
            "AWS_SHARED_CREDENTIALS_FILE", home.filePath(u"none"_s).toUtf8());
        m_window.urlField()->setText(CredentialsEndpoint::iamURL(u"Profile=slow"_s));
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this,
            [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        ticker.start(10);
        sinceTick.start();
        QTest::mouseClick(m_window.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(started));
        QTest::qWait(200);
        QVERIFY(isBusy());
        QVERIFY2(longestStall < 2000, qPrintable(QString::number(longestStall)));
        QTest::mouseClick(m_window.cancelButton(), Qt::LeftButton);
        dismissAlertSheet(u"The request was cancelled.\n"_s);
        QVERIFY(isIdle());
    }

    // The real xdg-open in a desktop of its own (see tests/e2e/lib.sh, e2e_xdg_home): with no
    // handler, the alert; with the desktop entry that comes with iamlink, whose iamlink-psql
    // here records its URL, the hand-off.
    void shouldOpenWithTheShippedHandler()
    {
        const QStringList system { u"/usr/bin"_s, u"/bin"_s };
        if (QStandardPaths::findExecutable(u"xdg-open"_s, system).isEmpty())
            QSKIP("xdg-utils is not installed");
        const QTemporaryDir home;
        const QByteArray dir = home.path().toUtf8();
        std::list<ScopedEnv> desktop;
        for (const auto &[name, value] :
            std::initializer_list<std::pair<const char *, std::optional<QByteArray>>> {
                { "PATH", dir + ":/usr/bin:/bin" }, { "XDG_CURRENT_DESKTOP", "X-Generic" },
                { "DISPLAY", ":iamlink-test-no-display" }, { "BROWSER", "false" },
                { "XDG_DATA_HOME", dir }, { "XDG_DATA_DIRS", dir }, { "XDG_CONFIG_HOME", dir },
                { "XDG_CONFIG_DIRS", dir }, { "TERMINAL", {} }, { "DESKTOP_SESSION", {} },
                { "KDE_FULL_SESSION", {} }, { "GNOME_DESKTOP_SESSION_ID", {} },
                { "DBUS_SESSION_BUS_ADDRESS", {} } })
            desktop.emplace_back(name, value);
        const auto write = [&](const QString &name, const QByteArray &text) {
            QFile file(home.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        write(u"x-terminal-emulator"_s, "#!/bin/sh\nshift\nexec \"$@\"\n");
        write(u"iamlink-psql"_s,
            "#!/bin/sh\nprintf '%s' \"$1\" >\"$0.part\" && mv \"$0.part\" \"$0.url\"\n");

        m_window.urlField()->setText(u"postgres://alice:pw@host/dev"_s);
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        QTRY_VERIFY(alertSheet());
        QCOMPARE(alertSheet()->text(), u"No application opens postgres: URLs"_s);
        QVERIFY(alertSheet()->informativeText().startsWith(u"xdg-open found no application"_s));
        alertSheet()->buttons().constFirst()->click();
        QTRY_VERIFY(!alertSheet());

        QVERIFY(QDir(home.path()).mkdir(u"applications"_s));
        QVERIFY(QFile::copy(QFINDTESTDATA("../../data/io.github.iamlink.iamlink-psql.desktop"),
            home.filePath(u"applications/io.github.iamlink.iamlink-psql.desktop"_s)));
        // What update-desktop-database writes for it once the package is installed.
        write(u"applications/mimeinfo.cache"_s,
            "[MIME Cache]\nx-scheme-handler/postgres=io.github.iamlink.iamlink-psql.desktop;\n");
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        QFile recorded(home.filePath(u"iamlink-psql.url"_s));
        QTRY_VERIFY(recorded.exists());
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(recorded.readAll(), "postgres://alice:pw@host/dev");
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
