// Times the site's store on an upload's statement lines: each file gzipped as an upload sends
// it, then kept (store_upload) and loaded (load_upload) for one account, as the site does for a
// table. Prints the seconds per file and the sums.
//   site_load_bench DATABASE FILE.sql...   (DATABASE: sqlite, or a postgresql:// address)
// The files are those ringolan-upload --keep-dumps leaves (d<id>.<table>.sql).
#include "site/store.h"
#include "upload/gzip_file.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: site_load_bench DATABASE FILE.sql...\n";
        return 2;
    }
    try {
        const auto dir = std::filesystem::temp_directory_path() / ("site_load_bench." + std::to_string(::getpid()));
        auto store = ringolan::site::open_store(argv[1], dir);
        store->delete_all("bench");
        double post_sum = 0, load_sum = 0;
        std::int64_t rows = 0;
        for (int i = 2; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            const std::string packed = ringolan::upload::gzip_bytes(text.str());
            auto t = std::chrono::steady_clock::now();
            store->store_upload("bench", packed);
            const double post = seconds_since(t);
            t = std::chrono::steady_clock::now();
            for (const auto& [table, n] : store->load_upload("bench")) rows += n;
            const double load = seconds_since(t);
            std::printf("%-40s %10zu bytes  keep %.3f s  load %.3f s\n", argv[i], text.str().size(), post, load);
            post_sum += post;
            load_sum += load;
        }
        std::printf("total: %lld rows, keep %.2f s, load %.2f s\n", static_cast<long long>(rows), post_sum, load_sum);
        store->delete_all("bench");
        store.reset();
        std::filesystem::remove_all(dir);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "site_load_bench: " << e.what() << "\n";
        return 1;
    }
}
