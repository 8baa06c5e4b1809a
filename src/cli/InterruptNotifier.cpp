#include "InterruptNotifier.h"

#include <QSocketNotifier>

#include <csignal>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int handledSignals[] = { SIGINT, SIGTERM, SIGHUP };
int interruptSockets[2] = { -1, -1 };
struct sigaction previousActions[std::size(handledSignals)];

void handleInterrupt(int)
{
    // Only async-signal-safe calls here.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptSockets[0], &byte, 1);
}

} // namespace

InterruptNotifier::InterruptNotifier(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, interruptSockets) != 0)
        return;
    m_notifier = new QSocketNotifier(interruptSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptNotifier::readInterrupt);

    struct sigaction action = {};
    action.sa_handler = handleInterrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next signal of the same kind gets the default action again.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (size_t i = 0; i < std::size(handledSignals); ++i)
        ::sigaction(handledSignals[i], &action, &previousActions[i]);
    m_installed = true;
}

InterruptNotifier::~InterruptNotifier()
{
    if (m_installed) {
        for (size_t i = 0; i < std::size(handledSignals); ++i)
            ::sigaction(handledSignals[i], &previousActions[i], nullptr);
    }
    delete m_notifier;
    for (int &fd : interruptSockets) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void InterruptNotifier::readInterrupt()
{
    char byte;
    [[maybe_unused]] const ssize_t read = ::read(interruptSockets[1], &byte, 1);
    Q_EMIT interrupted();
}
