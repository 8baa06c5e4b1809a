#include "AppDelegate.h"

#include "MainWindow.h"

#include <QAbstractButton>

AppDelegate::AppDelegate(MainWindow &window, QObject *parent)
    : QObject(parent)
    , m_urlField(window.urlField())
    , m_desktop(&window, window.connectButton(), window.progressIndicator())
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

void AppDelegate::cancel()
{
    m_flow.cancel();
}
