#pragma once

#include "ConnectFlow.h"
#include "QtDesktopServices.h"

#include <QLineEdit>
#include <QObject>
#include <QPointer>

class MainWindow;

// The window's delegate: runs the connect flow on the connect button's action (and Return in
// the field) and cancels the request in flight on the cancel button's. The window's controls
// reach the flow through the desktop services, which hold them weakly; every alert is a sheet
// on the window.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(MainWindow &window, QObject *parent = nullptr);

public Q_SLOTS:
    void openURL();
    void cancel();
    // Puts `url` (from a link or the command line; none: the field is kept) in the field and
    // brings the window forward; nothing connects until the user does.
    void showURL(const QString &url);

private:
    QPointer<QLineEdit> m_urlField;
    QPointer<QWidget> m_window;
    QtDesktopServices m_desktop;
    ConnectFlow m_flow;
};
