// Shared helpers of the upload tests: a scratch folder per test program and the snapshot of a file.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_build.h"

namespace ringolan::test_upload {

namespace fs = std::filesystem;

// A folder of this test program, removed at exit.
inline fs::path scratch_dir() {
    struct Dir {
        fs::path path = fs::temp_directory_path() / ("ringolan_upload_test_" + std::to_string(::getpid()));
        Dir() { fs::create_directories(path); }
        ~Dir() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    };
    static const Dir dir;
    return dir.path;
}

inline std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::shared_ptr<const db::Snapshot> snapshot_of(const fs::path& mdb) {
    db::SnapshotInfo info;
    info.source = mdb;
    info.generation = 1;
    return db::Snapshot::from_image(db::build_snapshot_image(mdb), info);
}

}  // namespace ringolan::test_upload
