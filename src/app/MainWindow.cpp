#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QShortcut>
#include <QToolButton>

#include <limits>

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);
    // A line edit keeps 32,767 characters by default and cuts a longer paste silently, which
    // would connect with another URL than the one pasted.
    m_ui->urlField->setMaxLength(std::numeric_limits<int>::max());
    // A plain window has no default-button handling, so Return in the field presses the
    // connect button; click() does nothing while the button is disabled.
    connect(
        m_ui->urlField, &QLineEdit::returnPressed, m_ui->connectButton, &QAbstractButton::click);
    // Escape cancels what the window waits for; the alerts and the MFA question, being
    // modal, take their own Escape first.
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, m_ui->cancelButton,
        &QAbstractButton::click);
    // The field's clear button has an icon only; a screen reader needs its name.
    for (QToolButton *button : m_ui->urlField->findChildren<QToolButton *>())
        button->setAccessibleName(tr("Clear the URL"));
}

MainWindow::~MainWindow() = default;

QLineEdit *MainWindow::urlField() const
{
    return m_ui->urlField;
}

QAbstractButton *MainWindow::connectButton() const
{
    return m_ui->connectButton;
}

QAbstractButton *MainWindow::cancelButton() const
{
    return m_ui->cancelButton;
}

QProgressBar *MainWindow::progressIndicator() const
{
    return m_ui->progressIndicator;
}

QLabel *MainWindow::statusLine() const
{
    return m_ui->statusLine;
}
