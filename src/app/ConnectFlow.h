#pragma once

#include "CredentialsResult.h"
#include "URLQueryItem.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class DesktopServices;
class RedshiftCredentialsRequest;
class URLSessionTask;

// The connect flow shared by the window and the command line: classifies the pasted text,
// opens ordinary URLs, turns a Redshift IAM URL into a credentials request and, when the
// credentials arrive, opens the postgres:// connection URL or shows why not. It knows the
// desktop only through DesktopServices, so it holds no widget.
class ConnectFlow : public QObject {
    Q_OBJECT
public:
    explicit ConnectFlow(DesktopServices &desktop, QObject *parent = nullptr);

    void openURLString(const QString &text);
    void openRedshiftIAMURL(const QString &text);
    // True when `item` stays in the connection URL; false when it was taken into `request`.
    static bool sortQueryItem(const URLQueryItem &item, RedshiftCredentialsRequest &request);
    void completeConnection(const CredentialsResult &result, QUrl connectionURL);
    // Cancels the request in flight, if any; its completion reports the cancellation.
    void cancel();

    bool isBusy() const { return m_busy; }

Q_SIGNALS:
    // Emitted when the busy state turns on (a request started) or off (its completion ran).
    void busyChanged(bool busy);

private:
    void setBusy(bool busy);

    DesktopServices &m_desktop;
    QPointer<URLSessionTask> lastTask;
    bool m_busy = false;
};
