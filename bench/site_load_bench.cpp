// Times the site's store on an upload's statement lines: each file gzipped as an upload sends
// it, then kept (store_upload) and loaded (load_upload) for one account, as the site does for a
// table. Prints the seconds per file and the sums.
//   site_load_bench DATABASE FILE.sql...   (DATABASE: sqlite, or a postgresql:// address)
// The files are those ringolan-upload --keep-dumps leaves (d<id>.<table>.sql).
#include "site/store.h"

#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

std::string gzip(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
    std::string out(deflateBound(&z, uLong(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(z.total_out);
    return out;
}

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
            const std::string packed = gzip(text.str());
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
