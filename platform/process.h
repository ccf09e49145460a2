// A child program with an answer channel (a pipe the child writes and the parent reads), waited
// for with a time limit and killed when needed. The child dies with the parent where the system
// allows. Children are started without copying locks other threads hold (POSIX: fork and exec,
// with only async-signal-safe calls between them).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace ringolan::platform {

// The exit code of a child whose program could not be started.
inline constexpr int kStartFailedExit = 127;

struct ExitStatus {
    bool crashed = false;     // ended by a signal or an exception of the system
    int code = 0;             // exit code, or the signal's number when crashed
    std::string crash_name;   // the signal's description when crashed, if known
    long peak_kib = 0;        // the child's peak resident memory
    bool succeeded() const { return !crashed && code == 0; }
};

// The program running now; empty when unknown.
std::filesystem::path running_program();

// This process's peak resident memory in KiB, -1 when unknown.
long peak_memory_kib();

// The answer channel as the started program finds it (POSIX: file descriptor 3).
NativeHandle answer_channel();

// Writes all bytes to a channel or file; false on an error (a reader that went away).
bool write_channel(NativeHandle channel, const void* data, std::size_t size);
// Two-way channels (the child's side): writes all bytes with a copy of handle attached.
bool write_channel_with_handle(NativeHandle channel, const void* data, std::size_t size, NativeHandle handle);
// Reads up to size bytes from a channel, waiting for them; 0 at its end or on an error.
std::size_t read_channel(NativeHandle channel, void* out, std::size_t size);

class ChildProcess {
public:
    struct Launch {
        std::filesystem::path program;
        std::vector<std::string> arguments;       // after the program's name
        std::vector<std::string> default_environment;  // "NAME=value", kept only when NAME is unset
        // The channel carries commands to the child as well, and handles with the answers.
        bool two_way = false;
    };
    // Work run in a copy of this process instead of a program (tests; POSIX only). It must call
    // only async-signal-safe functions; its result is the exit code.
    using Function = int (*)(NativeHandle answer, const void* context);

    // Throw std::system_error when the channel or the child cannot be made.
    static ChildProcess start(const Launch& launch);
    static ChildProcess start_function(Function function, const void* context);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    // Kills and reaps a child still running.
    ~ChildProcess();

    enum class Read { data, end, nothing, failed };
    // Waits up to wait for answer bytes: data (got > 0), end of the channel, nothing yet, failed.
    Read read(void* out, std::size_t size, std::chrono::milliseconds wait, std::size_t& got);
    // Two-way channels: sends bytes to the child; false when it is gone.
    bool send(const void* data, std::size_t size);
    // Two-way channels: the oldest handle that arrived with the bytes read so far (the caller
    // owns it), or kNoHandle.
    NativeHandle take_handle();
    // Closes the parent's end: a child still writing gets an error instead of blocking.
    void close_answer();
    // The child's end when it has ended, without waiting.
    std::optional<ExitStatus> try_wait();
    // Kills the child if it still runs and waits for its end.
    ExitStatus kill_and_wait();

private:
    long receive(void* out, std::size_t size);  // recvmsg, keeping the handles that come along
    ChildProcess(NativeHandle id, NativeHandle answer, bool two_way = false)
        : id_(id), answer_(answer), two_way_(two_way) {}
    NativeHandle id_;      // POSIX: the process id
    NativeHandle answer_;  // the channel's read end
    bool two_way_ = false;
    std::vector<NativeHandle> handles_;  // received, not yet taken
    std::optional<ExitStatus> ended_;
};

}  // namespace ringolan::platform
