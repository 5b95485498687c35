#include "StopSignal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {

std::atomic<int> arrived{0};
int pipeEnds[2] = {-1, -1};

void onStopSignal(int sig)
{
    const int saved = errno;
    int none = 0;
    arrived.compare_exchange_strong(none, sig);
    if (pipeEnds[1] >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up, so a lost byte changes nothing.
        [[maybe_unused]] const ssize_t n = write(pipeEnds[1], &byte, 1);
    }
    errno = saved;
}

bool makeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

bool installStopSignals()
{
    if (pipeEnds[0] < 0) {
        int ends[2];
        if (pipe(ends) != 0)
            return false;
        if (!makeNonBlocking(ends[0]) || !makeNonBlocking(ends[1])) {
            close(ends[0]);
            close(ends[1]);
            return false;
        }
        pipeEnds[0] = ends[0];
        pipeEnds[1] = ends[1];
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    return true;
}

bool stopRequested()
{
    return arrived.load() != 0;
}

int stopSignal()
{
    return arrived.load();
}

int stopExitStatus()
{
    const int sig = arrived.load();
    return sig ? 128 + sig : 0;
}

int stopSignalFd()
{
    return pipeEnds[0];
}

void drainStopSignalFd()
{
    char bytes[64];
    while (pipeEnds[0] >= 0 && read(pipeEnds[0], bytes, sizeof bytes) > 0) {
    }
}

void resetStopSignal()
{
    drainStopSignalFd();
    arrived.store(0);
}
