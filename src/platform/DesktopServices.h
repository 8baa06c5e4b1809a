#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

// What the user is told when a connect fails: the alert's two texts.
struct Alert {
    QString messageText;
    QString informativeText;
};

// What the connect flow needs of the desktop. The window implements it with widgets, the
// command line with standard streams, the tests with a recorder. Called on the main thread.
class DesktopServices {
public:
    // Absent when the URL was handed on; otherwise why nothing could open it.
    using OpenAnswer = std::function<void(const std::optional<QString> &problem)>;
    // The text the user entered; absent when they declined or nobody can be asked.
    using TextAnswer = std::function<void(const std::optional<QString> &text)>;

    virtual ~DesktopServices() = default;

    // Offers `url` to the application registered for its scheme; `answered` runs once, later,
    // on the main thread (possibly before openURL returns). For a connection URL made with
    // temporary credentials, `expiration` tells when its password stops working, if the
    // service said.
    virtual void openURL(
        const QUrl &url, const std::optional<QDateTime> &expiration, OpenAnswer answered)
        = 0;
    // A fresh alert with one dismiss button; returns at once.
    virtual void showAlertSheet(const QString &messageText, const QString &informativeText) = 0;
    // The busy state: the connect button disabled and the progress indicator running.
    virtual void setBusy(bool busy) = 0;
    // Asks the user for a short text, such as an MFA code, without blocking the event loop;
    // `answered` runs once, on the main thread (possibly before askForText returns).
    virtual void askForText(const QString &prompt, TextAnswer answered) = 0;

    // What the user confirms before a password got with their own AWS keys goes to a host
    // that is not AWS's own name of the cluster or workgroup.
    struct HostQuestion {
        QString host;
        QString target; // the cluster or workgroup
        QString dbUser; // empty when AWS takes it from the keys
    };
    using ConfirmAnswer = std::function<void(bool confirmed)>;
    // Asks whether to connect, the safe answer being no, without blocking the event loop;
    // `answered` runs once, on the main thread (possibly before confirmHost returns). A front
    // end that cannot ask says why itself.
    virtual void confirmHost(const HostQuestion &question, ConfirmAnswer answered) = 0;

    // What the connect is waiting for, one short sentence ("Asking AWS for credentials…") for
    // a status line, until the next one or the connect's end.
    virtual void showStatus(const QString &text) { Q_UNUSED(text) }

    // The index of the choice the user made; absent when they declined or nobody can be asked.
    using ChoiceAnswer = std::function<void(const std::optional<qsizetype> &index)>;

    // A sign-in that waits for the user in a browser at `url` (http or https): `instructions`
    // say what to do there, such as which code to confirm. The window shows them in a sheet
    // with Open Browser and Cancel, and opens the page at once when `openNow`; the command line
    // writes them and the URL to standard error and opens the page unless told not to.
    // `cancelled` runs if the user gives up there. The flow calls endBrowserSignIn() once the
    // sign-in has ended, however it ended.
    virtual void beginBrowserSignIn(
        const QString &instructions, const QUrl &url, bool openNow, std::function<void()> cancelled)
        = 0;
    virtual void endBrowserSignIn() { }
    // Asks the user to pick one of `choices` (plain text) without blocking the event loop;
    // `answered` runs once, on the main thread (possibly before askForChoice returns). Nobody
    // is asked unless a front end can.
    virtual void askForChoice(
        const QString &prompt, const QStringList &choices, ChoiceAnswer answered)
    {
        Q_UNUSED(prompt);
        Q_UNUSED(choices);
        answered(std::nullopt);
    }
};
