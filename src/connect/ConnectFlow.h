#pragma once

#include "Cancellable.h"
#include "CredentialsResolver.h"
#include "CredentialsResult.h"
#include "RedshiftIAMURL.h"
#include "URLSession.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <variant>

class DesktopServices;
class RedshiftCredentialsRequest;

// The connect flow shared by the window and the command line: classifies the pasted text,
// opens ordinary URLs, and turns a Redshift IAM URL into temporary database credentials
// (the AWS keys resolved, then the credentials call) and the postgres:// connection URL, or
// shows why not. It knows the desktop only through DesktopServices, so it holds no widget.
class ConnectFlow : public QObject {
    Q_OBJECT
public:
    explicit ConnectFlow(DesktopServices &desktop, QObject *parent = nullptr);

    // One connect: ends in an alert or a URL offered to its handler, then finished().
    void openURLString(const QString &text);
    // Cancels the step in flight, if any; the connect then ends with the cancellation alert.
    void cancel();
    bool isBusy() const { return m_busy; }

Q_SIGNALS:
    // The connect has ended: an alert was shown, the opener answered, or nothing was to open.
    void finished();

protected:
    // Sends the credentials call; its completion runs later on the main thread. Tests and
    // fuzzing replace it to see what would be sent without any network.
    virtual QPointer<Cancellable> sendCredentialsRequest(
        const std::shared_ptr<RedshiftCredentialsRequest> &request,
        std::function<void(const CredentialsResult &)> completion);

private:
    void openRedshiftIAMURL(const QString &text);
    void requestCredentials(const RedshiftIAMURL &url,
        const std::variant<CredentialsResolver::Resolution, Alert> &resolved);
    void completeConnection(const CredentialsResult &result, QUrl connectionURL);
    void open(const QUrl &url);
    void showAlertSheet(const Alert &alert);
    void setBusy(bool busy);

    DesktopServices &m_desktop;
    URLSession m_session;
    QPointer<Cancellable> lastTask;
    bool m_busy = false;
    // Set by cancel() until the next connect: a step that ends after it does not start the next.
    bool m_cancelled = false;
};
