// ringolan-snapshot-reader FILE.mdb: the child process of build_snapshot_isolated. Reads the
// file and writes the snapshot image, or the error text, to file descriptor 3.
#include <cstdio>

#include "db/snapshot/snapshot_build.h"
#include "db/snapshot/snapshot_child.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ringolan-snapshot-reader FILE.mdb (answer on file descriptor 3)\n");
        return 2;
    }
    return ringolan::db::answer_build(3, argv[1], [](const std::filesystem::path& p) {
        return ringolan::db::build_snapshot_image(p);
    });
}
