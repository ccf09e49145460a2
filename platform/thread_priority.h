// Settings of the calling thread.
#pragma once

namespace ringolan::platform {

// Lowers the calling thread's scheduling priority by nice steps (0 to 19, POSIX sense); a
// refusal of the system leaves it as it is.
void lower_thread_priority(int nice_steps);

// A write to a connection the peer has closed then fails with an error in this thread instead
// of raising a signal that ends the process (POSIX: SIGPIPE blocked).
void block_broken_pipe_signal();

}  // namespace ringolan::platform
