#include "QtDesktopServices.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

void QtDesktopServices::openURL(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void QtDesktopServices::showAlert(const QString &messageText, const QString &informativeText)
{
    auto *alert = new QMessageBox(m_window);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setIcon(QMessageBox::Warning);
    alert->setStandardButtons(QMessageBox::Ok);
    alert->setDefaultButton(QMessageBox::Ok);
    // Both texts may echo what the user pasted or what a server sent; never read as HTML.
    alert->setTextFormat(Qt::PlainText);
    alert->setText(messageText);
    alert->setInformativeText(informativeText);
    if (auto *label = alert->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    // open() shows the box window-modal on its parent and returns at once, like a sheet.
    alert->open();
}

void QtDesktopServices::beep()
{
    QApplication::beep();
}

void QtDesktopServices::setConnectEnabled(bool enabled)
{
    if (m_connectButton)
        m_connectButton->setEnabled(enabled);
}

void QtDesktopServices::setProgressAnimating(bool animating)
{
    if (!m_progressIndicator)
        return;
    // A range of 0..0 is Qt's indeterminate "busy" bar; hidden while stopped.
    m_progressIndicator->setRange(0, 0);
    m_progressIndicator->setVisible(animating);
}
