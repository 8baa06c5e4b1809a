#include "AppDelegate.h"

#include "MainWindow.h"

#include <QAbstractButton>

AppDelegate::AppDelegate(MainWindow &window, QObject *parent)
    : QObject(parent)
    , m_urlField(window.urlField())
    , m_window(&window)
    , m_desktop(&window, window.connectButton(), window.progressIndicator(), window.statusLine())
    , m_flow(m_desktop)
{
    connect(window.connectButton(), &QAbstractButton::clicked, this, &AppDelegate::openURL);
    connect(window.cancelButton(), &QAbstractButton::clicked, this, &AppDelegate::cancel);
}

void AppDelegate::openURL()
{
    if (m_urlField)
        m_flow.openURLString(m_urlField->text());
}

void AppDelegate::showURL(const QString &url)
{
    if (!m_urlField || !m_window)
        return;
    if (!url.isEmpty()) {
        m_urlField->setText(url);
        m_urlField->setFocus();
        if (!m_flow.isBusy())
            m_desktop.showStatus(QStringLiteral("Press Connect to get credentials for this URL."));
    }
    m_window->raise();
    m_window->activateWindow();
}

void AppDelegate::cancel()
{
    m_flow.cancel();
}
