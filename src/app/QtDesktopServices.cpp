#include "QtDesktopServices.h"

#include "DesktopOpener.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

QtDesktopServices::QtDesktopServices(
    QWidget *window, QAbstractButton *connectButton, QProgressBar *progressIndicator)
    : m_window(window)
    , m_connectButton(connectButton)
    , m_progressIndicator(progressIndicator)
{
}

void QtDesktopServices::openURL(const QUrl &url, OpenAnswer answered)
{
#if defined(Q_OS_WIN)
    // No opener program to run: the shell's own URL handling answers at once.
    answered(QDesktopServices::openUrl(url)
            ? std::nullopt
            : std::optional(QStringLiteral("The desktop found no application for it.")));
#else
    DesktopOpener::open(url, std::move(answered));
#endif
}

void QtDesktopServices::showAlertSheet(const QString &messageText, const QString &informativeText)
{
    auto *alert = new QMessageBox(m_window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(QMessageBox::Warning);
    alert->setStandardButtons(QMessageBox::Ok);
    // Both texts may echo what the user pasted or what a server sent; never read as markup.
    alert->setTextFormat(Qt::PlainText);
    alert->setText(messageText);
    alert->setInformativeText(informativeText);
    if (auto *label = alert->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    // open() shows the box window-modal on its parent and returns at once, like a sheet.
    alert->open();
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
