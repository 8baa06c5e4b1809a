#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT (Ctrl-C), SIGTERM and SIGHUP (the terminal closed) into a Qt signal on the main
// thread while it exists, so that each cancels the work (a credential process with all it
// started too) and iamlink-cli ends as after any alert. The handler only writes one byte to a
// socket pair; the event loop reads it and emits interrupted(). A second signal of the same
// kind, after the first was handled, ends the process as usual.
class InterruptNotifier : public QObject {
    Q_OBJECT
public:
    explicit InterruptNotifier(QObject *parent = nullptr);
    ~InterruptNotifier() override;

Q_SIGNALS:
    void interrupted();

private:
    void readInterrupt();

    QSocketNotifier *m_notifier = nullptr;
    bool m_installed = false;
};
