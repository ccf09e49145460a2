// ringolan-mkdb --out FILE.mdb TABLES.json: writes a Jet 4 file from a JSON description.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/cli.h"
#include "tools/mkdb/json_spec.h"

namespace {

const char kUsage[] = "usage: ringolan-mkdb --out FILE.mdb TABLES.json   (TABLES.json may be - for standard input)\n";

const std::string kHelp = std::string(kUsage) +
    "Writes a Jet 4 database file from a JSON description of its tables, columns and rows.\n"
    "\n"
    "Options:\n"
    "  -o, --out FILE.mdb  the database to write\n"
    "  TABLES.json         the description; - reads it from standard input\n"
    "  -h, --help          show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-mkdb --out small.mdb tables.json\n"
    "  $ ringolan-mkdb -o small.mdb - < tables.json\n"
    "\n"
    "Exit status:\n"
    "  0  the file was written\n"
    "  1  the file could not be written\n"
    "  2  usage error, an unreadable description or an invalid one\n";

int usage() {
    std::cerr << kUsage;
    return ringolan::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out, input;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--out" || a == "-o") && i + 1 < argc) out = argv[++i];
        else if (const auto standard = ringolan::cli::standard_option(a); standard != ringolan::cli::StandardOption::none)
            return ringolan::cli::answer(standard, "ringolan-mkdb", kHelp);
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
