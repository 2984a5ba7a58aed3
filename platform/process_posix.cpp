// Process-wide settings of the POSIX side: the standard streams and the
// signals that end a run.

#include "platform/platform.h"
#include "platform/platform_local.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupt_pending = 0;

void on_interrupt(int)
{
    interrupt_pending = 1;
}

}  // namespace

void velk_prepare_process()
{
    // A closed descriptor 0, 1 or 2 would be handed to the next file opened
    // (the log, say), and whatever the program writes to that stream
    // ("--record-video" frames on standard output) would land in that file.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1)
            continue;
        int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null_fd >= 0 && null_fd != fd) {
            (void)dup2(null_fd, fd);
            (void)close(null_fd);
        }
    }
    // Binary mode is the only mode here; what matters is that a closed pipe
    // ends a recording through a failed write, not through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Ctrl-C and a polite kill become the close request, so the run ends
    // through its normal shutdown. The handler goes back to the default after
    // the first signal: a second Ctrl-C ends a stuck program at once. Set
    // before the video system starts, which then leaves these signals alone.
    struct sigaction sa = {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    (void)sigaction(SIGINT, &sa, nullptr);
    (void)sigaction(SIGTERM, &sa, nullptr);
}

bool velk_take_interrupt()
{
    if (!interrupt_pending)
        return false;
    interrupt_pending = 0;
    return true;
}
