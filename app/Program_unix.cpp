#include "Program_p.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler only writes a byte into a pipe; the window thread reads it
// through a socket notifier in whatever event loop runs (the main one, a
// modal dialog's, an export's wait) and closes the window there.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void drainAndClose()
{
    char bytes[64];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    closeOnTermination();
}

} // namespace

TerminationRequests::TerminationRequests(QObject* owner)
{
    if (signalPipe[0] < 0) {
        if (::pipe(signalPipe) != 0)
            return;
        for (int fd : signalPipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    // Owned by the application object: a signal during its teardown still
    // finds the pipe, and nothing reads it any more.
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { drainAndClose(); });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

TerminationRequests::~TerminationRequests() = default;
