#include "AppDelegate.h"
#include "MainWindow.h"
#include "RecordingOpener.h"
#include "ScopedEnv.h"
#include "SingleInstance.h"
#include "TestHttpServer.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAppDelegate : public QObject {
    Q_OBJECT

    const ScopedEnv m_clean { cleanEnvironment() };
    TestHttpServer m_server;
    ScopedEnv m_endpoint { "AWS_ENDPOINT_URL", m_server.url().toEncoded() };
    const QString m_iamURL
        = u"jdbc:redshift:iam://c.x.us-west-2.redshift.amazonaws.com:5439/dev?"_s;
    RecordingOpener m_opener;
    MainWindow m_window;
    AppDelegate m_delegate { m_window };
    QTemporaryDir m_home;
    // A password that expires in 15 minutes, read a moment later.
    const QDateTime m_expiry = QDateTime::currentDateTimeUtc().addSecs(15 * 60 + 20);

    QByteArray write(const QString &name, const QByteArray &text)
    {
        QFile file(m_home.filePath(name));
        if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size())
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return file.fileName().toUtf8();
    }

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
        m_server.setReply({ 200, {},
            "<R><DbUser>IAM:alice</DbUser><DbPassword>secret</DbPassword><Expiration>"
                + m_expiry.toString(Qt::ISODate).toUtf8() + "</Expiration></R>" });
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    }

    // Typing starts in the field; a screen reader can name each control.
    void shouldBeReadyForKeyboardAndScreenReader()
    {
        QCOMPARE(QApplication::focusWidget(), m_window.urlField());
        const QList<QWidget *> controls = m_window.findChildren<QWidget *>();
        QVERIFY(controls.contains(m_window.statusLine()));
        for (QWidget *control : controls)
            QVERIFY2(
                !QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty(),
                control->metaObject()->className());
    }

    // A URL from a link or the command line waits in the field: nothing is asked or opened.
    // From a second iamlink, it reaches the window that is open, over a socket in the
    // runtime folder (here one where an instance that was killed left a file).
    void shouldTakeURLsWithoutConnecting()
    {
        const QString url = m_iamURL + u"AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI"_s;
        const qsizetype requests = m_server.requests().size();
        m_delegate.showURL(url);
        QCOMPARE(m_window.urlField()->text(), url);
        QCOMPARE(
            m_window.statusLine()->text(), u"Press Connect to get credentials for this URL."_s);

        const ScopedEnv runtime("XDG_RUNTIME_DIR", m_home.path().toUtf8());
        QFile stale(SingleInstance::defaultSocketPath());
        QVERIFY(stale.open(QIODevice::WriteOnly));
        SingleInstance instance;
        instance.listen();
        connect(&instance, &SingleInstance::received, &m_delegate, &AppDelegate::showURL);
        QProcess second;
        second.start(QStringLiteral(IAMLINK_PATH), { url + u"&DbUser=bob"_s });
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(m_window.urlField()->text(), url + u"&DbUser=bob"_s);
        QCOMPARE(m_server.requests().size(), requests);
        QCOMPARE(m_opener.openedURL(), QByteArray());
        second.start(QStringLiteral(IAMLINK_PATH), { u"--help"_s });
        QVERIFY(second.waitForFinished());
        QVERIFY(second.readAllStandardOutput().contains("[options] [URL]"));
        m_window.urlField()->clear();
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

    // A connect that succeeded, and the status line says when its password expires; then one
    // whose credential process hangs: the window stays responsive and busy, says what it
    // waits for, Return does nothing more, and Escape cancels the new step.
    void shouldConnectThenCancel()
    {
        m_window.urlField()->setText(
            m_iamURL + u"AccessKeyID=AKIDEXAMPLE&SecretAccessKey=wJalrXUtnFEMI"_s);
        QTest::mouseClick(m_window.connectButton(), Qt::LeftButton);
        QTRY_VERIFY(m_opener.openedURL().startsWith("postgres://IAM%3Aalice:secret@"));
        QTRY_VERIFY(!isBusy());
        const QDateTime local = m_expiry.toLocalTime();
        QTRY_COMPARE(m_window.statusLine()->text(),
            u"Opened in the postgres: handler. The password expires at %1 (in 15 minutes)."_s.arg(
                local.toString(
                    local.date() == QDate::currentDate() ? u"HH:mm"_s : u"yyyy-MM-dd HH:mm"_s)));

        const ScopedEnv config("AWS_CONFIG_FILE",
            write(u"config"_s,
                "[profile slow]\ncredential_process = /bin/sh -c '/bin/touch \"$0\"; exec "
                "/bin/sleep 300' "
                    + m_home.filePath(u"started"_s).toUtf8() + '\n'));
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
        QCOMPARE(m_window.statusLine()->text(), u"Finding AWS keys…"_s);
        // A generous bound, to catch blocking work, not to time anything.
        QVERIFY2(longestStall < 2000, qPrintable(QString::number(longestStall)));
        QTest::keyClick(m_window.urlField(), Qt::Key_Escape);
        dismissAlertSheet(
            u"Failed to get credentials from AWS"_s, u"The request was cancelled.\n"_s);
        QVERIFY(!isBusy());
        QCOMPARE(m_window.statusLine()->text(), QString());
        QCOMPARE(m_server.requests().size(), 1);
    }

    // The real xdg-open in a desktop of its own (as tests/e2e/e2e.sh makes one): with no
    // handler, the alert; with the desktop entries that come with iamlink, the hand-off to
    // iamlink-psql (which here records its URL), and a jdbc: link to this window.
    void shouldOpenWithTheShippedHandler()
    {
        if (QStandardPaths::findExecutable(u"xdg-open"_s, { u"/usr/bin"_s }).isEmpty())
            QSKIP("xdg-utils is not installed");
        const QByteArray dir = m_home.path().toUtf8();
        const ScopedEnv desktop({ { "PATH", dir + ":/usr/bin:/bin" },
            { "XDG_CURRENT_DESKTOP", "X-Generic" }, { "DISPLAY", ":iamlink-no-display" },
            { "BROWSER", "false" }, { "XDG_DATA_HOME", dir }, { "XDG_DATA_DIRS", dir },
            { "XDG_CONFIG_HOME", dir }, { "XDG_CONFIG_DIRS", dir }, { "TERMINAL", {} },
            { "DESKTOP_SESSION", {} }, { "KDE_FULL_SESSION", {} },
            { "GNOME_DESKTOP_SESSION_ID", {} }, { "DBUS_SESSION_BUS_ADDRESS", {} } });
        write(u"x-terminal-emulator"_s, "#!/bin/sh\nshift\nexec \"$@\"\n");
        write(u"iamlink-psql"_s, "#!/bin/sh\nprintf '%s' \"$1\" >\"$0.url\"\n");
        m_window.urlField()->setText(u"postgres://alice:pw@host/dev"_s);
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        dismissAlertSheet(
            u"No application opens postgres: URLs"_s, u"xdg-open found no application"_s);

        // Both entries, and what update-desktop-database writes for them once the package is
        // installed: each scheme of an entry's MimeType handled by that entry.
        QVERIFY(QDir(m_home.path()).mkdir(u"applications"_s));
        QByteArray cache = "[MIME Cache]\n";
        for (const QString &entry : { u"iamlink.desktop"_s, u"iamlink-psql.desktop"_s }) {
            QFile file(QFINDTESTDATA(u"../../data/io.github.iamlink."_s + entry));
            QVERIFY(file.copy(m_home.filePath(u"applications/io.github.iamlink."_s + entry)));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray types = QRegularExpression(u"\nMimeType=([^\n]*)"_s)
                                         .match(QString::fromUtf8(file.readAll()))
                                         .captured(1)
                                         .toUtf8();
            for (const QByteArray &type : types.split(';'))
                cache
                    += type.isEmpty() ? "" : type + "=io.github.iamlink." + entry.toUtf8() + ";\n";
        }
        write(u"applications/mimeinfo.cache"_s, cache);
        QTest::keyClick(m_window.urlField(), Qt::Key_Return);
        const auto recorded = [this] {
            QFile file(m_home.filePath(u"iamlink-psql.url"_s));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_COMPARE(recorded(), "postgres://alice:pw@host/dev");

        // A jdbc: link clicked: xdg-open starts iamlink with it, which hands it to this window.
        const QString link = m_iamURL + u"DbUser=alice"_s;
        const ScopedEnv runtime("XDG_RUNTIME_DIR", dir);
        QVERIFY(QFile::link(QStringLiteral(IAMLINK_PATH), m_home.filePath(u"iamlink"_s)));
        SingleInstance instance;
        instance.listen();
        connect(&instance, &SingleInstance::received, &m_delegate, &AppDelegate::showURL);
        QProcess xdgOpen;
        xdgOpen.start(u"xdg-open"_s, { link });
        QTRY_COMPARE_WITH_TIMEOUT(xdgOpen.state(), QProcess::NotRunning, 20000);
        QTRY_COMPARE(m_window.urlField()->text(), link);
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
