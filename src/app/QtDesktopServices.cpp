#include "QtDesktopServices.h"

#include "DesktopOpener.h"
#include "DisplayedText.h"
#include "PasswordExpiry.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

QtDesktopServices::QtDesktopServices(QWidget *window,
    QAbstractButton *connectButton,
    QProgressBar *progressIndicator,
    QLabel *statusLine)
    : m_window(window)
    , m_connectButton(connectButton)
    , m_progressIndicator(progressIndicator)
    , m_statusLine(statusLine)
{
    m_expirationTimer.setInterval(std::chrono::seconds(15));
    QObject::connect(&m_expirationTimer, &QTimer::timeout, [this] { showOpened(); });
}

void QtDesktopServices::openURL(
    const QUrl &url, const std::optional<QDateTime> &expiration, OpenAnswer answered)
{
    // Of the URL only its scheme is told: the rest may hold the password.
    auto opened = [this, answered = std::move(answered), expiration, scheme = url.scheme()](
                      const std::optional<QString> &problem) {
        if (!problem) {
            m_opened = QStringLiteral("Opened in the %1: handler.").arg(scheme);
            m_expiration = expiration;
            showOpened();
        }
        answered(problem);
    };
#if defined(Q_OS_WIN)
    // No opener program to run: the shell's own URL handling answers at once.
    opened(QDesktopServices::openUrl(url)
            ? std::nullopt
            : std::optional(QStringLiteral("The desktop found no application for it.")));
#else
    DesktopOpener::open(url, std::move(opened));
#endif
}

void QtDesktopServices::showOpened()
{
    if (!m_statusLine)
        return;
    m_statusLine->setText(
        m_expiration ? m_opened + u' ' + passwordExpiryText(*m_expiration) : m_opened);
    // Until it has expired, "in N minutes" is kept true.
    if (m_expiration && QDateTime::currentDateTimeUtc() < *m_expiration)
        m_expirationTimer.start();
    else
        m_expirationTimer.stop();
}

void QtDesktopServices::showStatus(const QString &text)
{
    m_expirationTimer.stop();
    if (m_statusLine)
        m_statusLine->setText(text);
}

// A window-modal message box, deleted once closed; `open()` shows it and returns at once,
// like a sheet.
static QMessageBox *sheet(
    QWidget *window, const QString &messageText, const QString &informativeText)
{
    auto *box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    // Both texts may echo what the user pasted or what a server sent; never read as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(messageText);
    box->setInformativeText(informativeText);
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    return box;
}

void QtDesktopServices::showAlertSheet(const QString &messageText, const QString &informativeText)
{
    showStatus(QString());
    QMessageBox *alert = sheet(m_window, messageText, informativeText);
    alert->setStandardButtons(QMessageBox::Ok);
    alert->open();
}

void QtDesktopServices::confirmHost(const HostQuestion &question, ConfirmAnswer answered)
{
    QMessageBox *box = sheet(m_window,
        QStringLiteral("Send a database password to %1?").arg(displayedText(question.host, 200)),
        QStringLiteral("iamlink would ask AWS, with your own AWS keys, for a temporary password "
                       "of %1 on %2, and hand it to a connection to %3. That host is not AWS's "
                       "own name for %2: anyone could have written it into the URL. Connect "
                       "only if it is yours, such as your company's name for the cluster, a load "
                       "balancer or a tunnel.")
            .arg(question.dbUser.isEmpty()
                    ? QStringLiteral("the database user AWS gives your keys")
                    : QStringLiteral("the database user ") + displayedText(question.dbUser, 200),
                displayedText(question.target, 200), displayedText(question.host, 200)));
    QPushButton *connect = box->addButton(QStringLiteral("Connect"), QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(QMessageBox::Cancel));
    QObject::connect(box, &QMessageBox::finished, box,
        [box, connect, answered] { answered(box->clickedButton() == connect); });
    box->open();
}

void QtDesktopServices::setBusy(bool busy)
{
    if (m_connectButton)
        m_connectButton->setEnabled(!busy);
    // The indicator is an indeterminate bar (range 0..0), hidden while stopped.
    if (m_progressIndicator)
        m_progressIndicator->setVisible(busy);
}

void QtDesktopServices::askForText(const QString &prompt, TextAnswer answered)
{
    auto *dialog = new QInputDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setLabelText(prompt);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answered](int result) {
        answered(result == QDialog::Accepted ? std::optional(dialog->textValue()) : std::nullopt);
    });
    dialog->open();
}

void QtDesktopServices::beginBrowserSignIn(
    const QString &instructions, const QUrl &url, bool openNow, std::function<void()> cancelled)
{
    endBrowserSignIn();
    auto *sheet = new QDialog(m_window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowTitle(QStringLiteral("Sign in"));
    sheet->setMinimumWidth(480);
    // The instructions quote what a service sent: never markup. The code can be copied from
    // them, and the page, however long, from a field of its own.
    auto *text = new QLabel(instructions, sheet);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *page = new QLineEdit(QString::fromUtf8(url.toEncoded()), sheet);
    page->setReadOnly(true);
    page->setCursorPosition(0);
    page->setAccessibleName(QStringLiteral("Sign-in page"));
    auto *problem = new QLabel(sheet);
    problem->setTextFormat(Qt::PlainText);
    problem->setWordWrap(true);
    problem->hide();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, sheet);
    QPushButton *openButton
        = buttons->addButton(QStringLiteral("Open Browser"), QDialogButtonBox::ActionRole);
    openButton->setDefault(true);
    auto *layout = new QVBoxLayout(sheet);
    layout->addWidget(text);
    layout->addWidget(page);
    layout->addWidget(problem);
    layout->addWidget(buttons);
    QObject::connect(openButton, &QAbstractButton::clicked, problem, [url, problem] {
        DesktopOpener::open(
            url, [problem = QPointer(problem)](const std::optional<QString> &failure) {
                if (problem && failure) {
                    problem->setText(*failure + QStringLiteral(": open the page above yourself."));
                    problem->show();
                }
            });
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, sheet, &QDialog::reject);
    // Escape and closing the sheet cancel as the button does; endBrowserSignIn() accepts it.
    QObject::connect(sheet, &QDialog::rejected, sheet, [cancelled] {
        if (cancelled)
            cancelled();
    });
    m_signInSheet = sheet;
    sheet->open();
    if (openNow)
        openButton->click();
}

void QtDesktopServices::endBrowserSignIn()
{
    if (m_signInSheet)
        m_signInSheet->accept();
}

void QtDesktopServices::askForChoice(
    const QString &prompt, const QStringList &choices, ChoiceAnswer answered)
{
    auto *dialog = new QInputDialog(m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setComboBoxItems(choices);
    dialog->setComboBoxEditable(false);
    dialog->setLabelText(prompt);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, choices, answered](int result) {
        const qsizetype index = choices.indexOf(dialog->textValue());
        answered(result == QDialog::Accepted && index >= 0 ? std::optional(index) : std::nullopt);
    });
    dialog->open();
}
