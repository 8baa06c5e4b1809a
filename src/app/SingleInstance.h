#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// One window per user session. The first iamlink listens on a local socket in the user's
// runtime folder, which only its owner may use; a later one hands its URL (or none) to it
// and ends. Two started at the same moment may both stay.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(
        const QString &socketPath = defaultSocketPath(), QObject *parent = nullptr);

    // iamlink.socket in $XDG_RUNTIME_DIR (Qt's runtime location); empty when there is none.
    static QString defaultSocketPath();

    // True when a running instance took `url` (none: it only comes forward): this one is then
    // done.
    bool handOver(const QString &url);
    // From now on, later instances hand their URLs to this one; a socket left by an instance
    // that was killed is replaced.
    void listen();

Q_SIGNALS:
    // A later instance handed `url` over (empty when it had none).
    void received(const QString &url);

private:
    void accept();

    QString m_socketPath;
    QLocalServer m_server;
};
