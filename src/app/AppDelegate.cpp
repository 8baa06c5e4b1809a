#include "AppDelegate.h"

AppDelegate::AppDelegate(std::unique_ptr<QtDesktopServices> desktop, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop ? std::move(desktop) : std::make_unique<QtDesktopServices>())
    , m_flow(std::make_unique<ConnectFlow>(*m_desktop))
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::setWindow(QWidget *window)
{
    m_window = window;
    m_desktop->setWindow(window);
}

void AppDelegate::setConnectButton(QAbstractButton *button)
{
    m_connectButton = button;
    m_desktop->setConnectButton(button);
}

void AppDelegate::setProgressIndicator(QProgressBar *indicator)
{
    m_progressIndicator = indicator;
    m_desktop->setProgressIndicator(indicator);
}

void AppDelegate::setUrlField(QLineEdit *field)
{
    m_urlField = field;
}

void AppDelegate::loadInterface(QWidget *window)
{
    setWindow(window);
    setConnectButton(window->findChild<QAbstractButton *>(QStringLiteral("connectButton")));
    setProgressIndicator(window->findChild<QProgressBar *>(QStringLiteral("progressIndicator")));
    setUrlField(window->findChild<QLineEdit *>(QStringLiteral("urlField")));

    if (m_connectButton)
        connect(m_connectButton, &QAbstractButton::clicked, this, &AppDelegate::openURL);
    if (auto *cancelButton = window->findChild<QAbstractButton *>(QStringLiteral("cancelButton")))
        connect(cancelButton, &QAbstractButton::clicked, this, &AppDelegate::cancel);
    // A plain window has no default-button handling, so Return in the field presses the
    // connect button; click() does nothing while the button is disabled.
    if (m_urlField && m_connectButton) {
        connect(m_urlField, &QLineEdit::returnPressed, m_connectButton, &QAbstractButton::click);
    }
    m_desktop->setProgressAnimating(false);
}

void AppDelegate::showAlertSheet(const QString &messageText, const QString &informativeText)
{
    m_desktop->showAlert(messageText, informativeText);
}

void AppDelegate::openURL()
{
    if (!m_urlField)
        return;
    // Qt's line edit holds its text at all times; editing cannot end only when the field
    // holds input that its validator does not accept.
    if (!m_urlField->hasAcceptableInput()) {
        m_desktop->beep();
        return;
    }
    m_flow->openURLString(m_urlField->text());
}

void AppDelegate::cancel()
{
    m_flow->cancel();
}
