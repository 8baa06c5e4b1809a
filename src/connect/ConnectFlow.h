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

    void openURLString(const QString &text);
    void openRedshiftIAMURL(const QString &text);
    // True when `item` stays in the connection URL; false when it was taken into `request`.
    static bool sortQueryItem(const URLQueryItem &item, RedshiftCredentialsRequest &request);
    void completeConnection(const CredentialsResult &result, QUrl connectionURL);
    // Cancels the request in flight, if any; its completion reports the cancellation.
    void cancel();

    bool isBusy() const { return m_busy; }

    // Pasted text as an alert may quote it: the value of every query item named
    // secretaccesskey (any case, the name possibly percent-encoded) replaced by "***",
    // control characters percent-encoded, and cut after maxDisplayedURLLength characters.
    static QString displayedURLText(const QString &text);
    static constexpr qsizetype maxDisplayedURLLength = 400;

Q_SIGNALS:
    // Emitted when the busy state turns on (a request started) or off (its completion ran).
    void busyChanged(bool busy);

protected:
    // Sends the prepared request; its completion runs later on the main thread. Fuzzing
    // replaces it to see what would be sent without any network.
    virtual QPointer<URLSessionTask> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion);

private:
    void setBusy(bool busy);

    DesktopServices &m_desktop;
    URLSession m_session;
    QPointer<URLSessionTask> lastTask;
    bool m_busy = false;
};
