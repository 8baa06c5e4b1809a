#pragma once

#include "ConnectFlow.h"
#include "QtDesktopServices.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>

#include <memory>

// The window's delegate: holds the controls weakly, runs the connect flow on the connect
// button's action and cancels the request in flight on the cancel button's. Every alert is
// a sheet on the window, shown through showAlertSheet.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // `desktop` lets tests observe what reaches the desktop; the application passes none.
    explicit AppDelegate(
        std::unique_ptr<QtDesktopServices> desktop = nullptr, QObject *parent = nullptr);
    ~AppDelegate() override;

    QWidget *window() const { return m_window; }
    void setWindow(QWidget *window);
    QAbstractButton *connectButton() const { return m_connectButton; }
    void setConnectButton(QAbstractButton *button);
    QProgressBar *progressIndicator() const { return m_progressIndicator; }
    void setProgressIndicator(QProgressBar *indicator);
    QLineEdit *urlField() const { return m_urlField; }
    void setUrlField(QLineEdit *field);

    // What the interface loader does: sets the outlets to `window` and its children named
    // connectButton, progressIndicator and urlField, and wires the two buttons' actions
    // (connectButton to openURL, cancelButton to cancel; Return in the field connects).
    void loadInterface(QWidget *window);

    void showAlertSheet(const QString &messageText, const QString &informativeText);

    ConnectFlow &connectFlow() { return *m_flow; }

public Q_SLOTS:
    void openURL();
    void cancel();

private:
    QPointer<QWidget> m_window;
    QPointer<QAbstractButton> m_connectButton;
    QPointer<QProgressBar> m_progressIndicator;
    QPointer<QLineEdit> m_urlField;
    std::unique_ptr<QtDesktopServices> m_desktop;
    std::unique_ptr<ConnectFlow> m_flow;
};
