#pragma once

#include "CredentialsResult.h"
#include "URLQueryItem.h"
#include "URLSession.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

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

    // One connect: ends in an alert or a URL offered to its handler, then finished().
    void openURLString(const QString &text);
    // Cancels the request in flight, if any; its completion reports the cancellation.
    void cancel();
    bool isBusy() const { return m_busy; }

    // True when `item` stays in the connection URL; false when it was taken into `request`.
    static bool sortQueryItem(const URLQueryItem &item, RedshiftCredentialsRequest &request);

Q_SIGNALS:
    // The connect has ended: an alert was shown, the opener answered, or nothing was to open.
    void finished();

protected:
    // Sends the prepared request; its completion runs later on the main thread. Fuzzing
    // replaces it to see what would be sent without any network.
    virtual QPointer<URLSessionTask> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion);

private:
    void openRedshiftIAMURL(const QString &text);
    void completeConnection(const CredentialsResult &result, QUrl connectionURL);
    void open(const QUrl &url);
    void showAlertSheet(const QString &messageText, const QString &informativeText);
    void setBusy(bool busy);

    DesktopServices &m_desktop;
    URLSession m_session;
    QPointer<URLSessionTask> lastTask;
    bool m_busy = false;
};
