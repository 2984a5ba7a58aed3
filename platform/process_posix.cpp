// Process-wide settings of the POSIX side.

#include "platform/platform.h"

#include <csignal>

void velk_prepare_stdout() {
    // Binary mode is the only mode here; what matters is that a closed pipe
    // ends a recording through a failed write, not through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}
