// ringolan-pictures: draws the pictures of the web root into a folder.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "common/cli.h"
#include "tools/pictures/web_pictures.h"

namespace {

const char kUsage[] = "usage: ringolan-pictures --out DIR\n";

const std::string kHelp = std::string(kUsage) +
    "Draws the pictures of the web root (targets, icons, GIF and PNG files) into a folder and lists the files it wrote.\n"
    "\n"
    "Options:\n"
    "  --out DIR   the folder to write the pictures to\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-pictures --out Web\n"
    "\n"
    "Exit status:\n"
    "  0  the pictures were written\n"
    "  1  a picture could not be written\n"
    "  2  usage error\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace ringolan;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (const auto standard = cli::standard_option(argv[i]); standard != cli::StandardOption::none) {
            return cli::answer(standard, "ringolan-pictures", kHelp);
        } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else {
            std::cerr << kUsage;
            return cli::kExitUsage;
        }
    }
    if (out == nullptr) {
        std::cerr << kUsage;
        return cli::kExitUsage;
    }
    try {
        pictures::write_web_pictures(out);
    } catch (const std::exception& e) {
        std::cerr << "ringolan-pictures: " << e.what() << "\n";
        return cli::kExitFailure;
    }
    for (const auto& p : pictures::web_pictures()) std::cout << p.file << "\n";
    return cli::kExitOk;
}
