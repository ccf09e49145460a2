// Builds a snapshot image in a child process, so that a damaged file that crashes, hangs or
// exhausts libmdb never takes the server down.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "db/snapshot/snapshot_build.h"
#include "platform/handle.h"

namespace ringolan::db {

struct BuildResult {
    std::vector<uint8_t> image;  // the serialized database when ok()
    std::string error;           // otherwise: names the file and what went wrong
    long child_peak_kib = 0;     // the child's peak resident memory (getrusage of the child)
    std::chrono::milliseconds elapsed{0};
    bool ok() const { return error.empty(); }
};

// Work done in the child (tests: simulated crashes and hangs). A plain function pointer.
using ImageBuilder = std::vector<uint8_t> (*)(const std::filesystem::path& mdb);

// Runs build_snapshot_image(mdb) in a child process and returns its image or a clear error
// (missing or empty file, not a Jet file, libmdb's error, crash with signal, time-out). The
// parent reads the answer until the limit, kills the child when the limit passes and always
// reaps it.
//
// The child is the program ringolan-snapshot-reader (beside the running program, else the one
// of the build tree), started by platform::ChildProcess: a new program, not a copy of this
// multi-threaded process, which would inherit every lock another thread held (SQLite's memory
// mutex, say) in the locked state and could hang on it. The child dies with the parent.
//
// Never throws for problems of the file or the child; throws std::system_error only when the
// pipe or the child cannot be created at all.
BuildResult build_snapshot_isolated(const std::filesystem::path& mdb, std::chrono::milliseconds limit);
// The same with options for the reader (only_indexes; the other fields are not passed on).
BuildResult build_snapshot_isolated(const std::filesystem::path& mdb, std::chrono::milliseconds limit,
                                    const BuildOptions& options);

// The same with build(mdb) run in a forked copy of this process, without exec (for tests). Only safe
// when build needs no lock another thread may hold (no malloc while other threads run under
// sanitizers, no SQLite); the child leaves with _exit (no atexit handlers, no flush).
BuildResult build_snapshot_isolated(const std::filesystem::path& mdb, std::chrono::milliseconds limit,
                                    ImageBuilder build);

// The child's side: runs build(mdb) and writes the image or the exception's text to answer.
// Returns the exit code for the child (0, or 3 when the answer could not be written).
int answer_build(platform::NativeHandle answer, const std::filesystem::path& mdb, ImageBuilder build);

// The reader program that build_snapshot_isolated starts (empty when none is found).
std::filesystem::path snapshot_reader_program();

}  // namespace ringolan::db
