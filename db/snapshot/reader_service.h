// The server's side of the long-running reader child (read_loop.h): asks it to read the
// followed file and takes the new database image as a read-only mapping. A child that crashes,
// hangs past the time limit or answers garbage is stopped; the next read starts a new one,
// which reads the file whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/snapshot/change_keys.h"
#include "platform/file.h"
#include "platform/memory_map.h"
#include "platform/process.h"

namespace ringolan::db {

class ReaderService {
public:
    // folder: where the child keeps its copy of the file (it must exist).
    explicit ReaderService(std::filesystem::path folder);
    ~ReaderService();
    ReaderService(const ReaderService&) = delete;
    ReaderService& operator=(const ReaderService&) = delete;

    struct Answer {
        enum class Kind { image, same, changing, failed } kind = Kind::failed;
        std::shared_ptr<const platform::MemoryMap> image;  // kind image
        uint64_t state = 0;                 // the child's count of its answers with an image
        bool full = false;                  // the file was read whole
        bool all_changed = true;            // otherwise: only changed_tables differ from the acknowledged state
        std::vector<std::string> changed_tables;
        std::vector<TableKeys> changed_keys;  // of some changed tables: the keys of the rows that differ
        platform::FileState read;           // the file as it was read (image, same)
        std::string error;                  // kind failed
        std::chrono::milliseconds elapsed{0};
    };
    // Reads the file (bounded by limit; the child is stopped when it passes).
    Answer read(const std::filesystem::path& source, std::chrono::milliseconds limit);
    // The state whose image is now served: later answers name the tables changed since.
    void acknowledge(uint64_t state) { acknowledged_ = state; }

private:
    void stop_child();
    std::filesystem::path folder_;
    std::optional<platform::ChildProcess> child_;
    uint64_t acknowledged_ = 0;
};

}  // namespace ringolan::db
