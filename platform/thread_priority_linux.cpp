#include "platform/thread_priority.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ringolan::platform {

// Linux sets the nice value per thread, by the thread's id.
void lower_thread_priority(int nice_steps) {
    if (nice_steps <= 0) return;
    const pid_t tid = pid_t(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, id_t(tid));
    if (errno == 0) ::setpriority(PRIO_PROCESS, id_t(tid), std::min(19, now + nice_steps));
}

void block_broken_pipe_signal() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

}  // namespace ringolan::platform
