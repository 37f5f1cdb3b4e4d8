#include "platform/Termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

constexpr int TerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe work here: one byte into the pipe. The event loop
// reads it and quits in its own time. The interrupted code may be about to
// read errno, which the write must not change.
// Ending normally saves the playlist, which may hang (a dead network mount,
// say): a second request to terminate then ends the program at once.
void onSignal(int) {
    const int savedErrno = errno;
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal : TerminationSignals)
        ::sigaction(signal, &fallback, nullptr);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

void QuitOnTerminationSignals() {
    if (signalPipe[0] != -1 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // The others are held while the handler runs, so that a second signal
    // takes the default action only once the first one is on its way.
    for (int signal : TerminationSignals)
        sigaddset(&action.sa_mask, signal);
    for (int signal : TerminationSignals)
        ::sigaction(signal, &action, nullptr);
}
