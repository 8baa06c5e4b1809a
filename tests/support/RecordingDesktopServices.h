#pragma once

#include "DesktopServices.h"

#include <QStringList>

// Records what the connect flow asks of the desktop, in order, as short texts:
// "open <url as sent>" (then " expires <ISO 8601>" when the expiration is known), "alert
// <message>|<informative>", "busy on", "busy off", "ask <prompt>", "confirm <host>|<cluster or
// workgroup>|<database user>", "status <text>", "sign-in <instructions>|<url>[ now]", "sign-in
// end", "choose <prompt>|<choice>|<choice>…". An opened URL is answered at once with `openProblem`,
// a question with `textAnswer`, a host with `hostConfirmed`, a choice with `choiceAnswer`; a
// sign-in's page goes to `browser`, if set, and its cancel is kept.
class RecordingDesktopServices : public DesktopServices {
public:
    void showAlertSheet(const QString &messageText, const QString &informativeText) override
    {
        events.append(QStringLiteral("alert ") + messageText + u'|' + informativeText);
    }
    void setBusy(bool busy) override
    {
        events.append(busy ? QStringLiteral("busy on") : QStringLiteral("busy off"));
    }

    void askForText(const QString &prompt, TextAnswer answered) override
    {
        events.append(QStringLiteral("ask ") + prompt);
        answered(textAnswer);
    }

    void showStatus(const QString &text) override
    {
        events.append(QStringLiteral("status ") + text);
    }
    void openURL(
        const QUrl &url, const std::optional<QDateTime> &expiration, OpenAnswer answered) override
    {
        events.append(QStringLiteral("open ") + QString::fromUtf8(url.toEncoded())
            + (expiration ? QStringLiteral(" expires ") + expiration->toUTC().toString(Qt::ISODate)
                          : QString()));
        answered(openProblem);
    }

    void beginBrowserSignIn(const QString &instructions,
        const QUrl &url,
        bool openNow,
        std::function<void()> cancelled) override
    {
        events.append(QStringLiteral("sign-in ") + instructions + u'|'
            + QString::fromUtf8(url.toEncoded()) + (openNow ? QStringLiteral(" now") : QString()));
        cancelSignIn = std::move(cancelled);
        if (browser)
            browser(url);
    }
    void endBrowserSignIn() override { events.append(QStringLiteral("sign-in end")); }
    void askForChoice(
        const QString &prompt, const QStringList &choices, ChoiceAnswer answered) override
    {
        events.append(QStringLiteral("choose ") + prompt + u'|' + choices.join(u'|'));
        answered(choiceAnswer);
    }

    void confirmHost(const HostQuestion &question, ConfirmAnswer answered) override
    {
        events.append(QStringLiteral("confirm ") + question.host + u'|' + question.target + u'|'
            + question.dbUser);
        answered(hostConfirmed);
    }

    QStringList events;
    std::optional<QString> openProblem;
    std::optional<QString> textAnswer;
    bool hostConfirmed = false;
    std::optional<qsizetype> choiceAnswer;
    std::function<void(const QUrl &)> browser;
    std::function<void()> cancelSignIn;
};
