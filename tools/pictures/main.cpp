// ringolan-pictures: draws the pictures of the web root into a folder.
#include <cstring>
#include <exception>
#include <iostream>

#include "tools/pictures/web_pictures.h"

int main(int argc, char** argv) {
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            out = argv[++i];
        } else {
            std::cerr << "usage: ringolan-pictures --out DIR\n";
            return 2;
        }
    }
    if (out == nullptr) {
        std::cerr << "usage: ringolan-pictures --out DIR\n";
        return 2;
    }
    try {
        ringolan::pictures::write_web_pictures(out);
    } catch (const std::exception& e) {
        std::cerr << "ringolan-pictures: " << e.what() << "\n";
        return 1;
    }
    for (const auto& p : ringolan::pictures::web_pictures()) std::cout << p.file << "\n";
    return 0;
}
