// ringolan-mkdb --out FILE.mdb TABLES.json: writes a Jet 4 file from a JSON description.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/mkdb/json_spec.h"

namespace {
int usage() {
    std::cerr << "usage: ringolan-mkdb --out FILE.mdb TABLES.json   (TABLES.json may be - for standard input)\n";
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    std::string out, input;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--out" || a == "-o") && i + 1 < argc) out = argv[++i];
        else if (a == "--help" || a == "-h") return usage(), 0;
        else if (input.empty() && (a == "-" || a[0] != '-')) input = a;
        else return usage();
    }
    if (out.empty() || input.empty()) return usage();
    std::stringstream text;
    if (input == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::cerr << "ringolan-mkdb: cannot read " << input << "\n";
            return 2;
        }
        text << in.rdbuf();
    }
    try {
        const auto sum = ringolan::mkdb::write_from_json(text.str(), out);
        std::cout << out << ": " << sum.tables << " tables, " << sum.rows << " rows, " << sum.bytes << " bytes\n";
        return 0;
    } catch (const ringolan::mkdb::SpecError& e) {
        std::cerr << "ringolan-mkdb: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "ringolan-mkdb: " << e.what() << "\n";
        return 1;
    }
}
