// live_check: reads answers of GET /api/v1/shooters/{startnr}, one JSON text per line, from
// standard input and writes one line per answer: "ok", or "torn: " and what disagrees
// (tools/mkdemo/live_invariant.h). For bench/live_soak.sh.
#include <cstdio>
#include <iostream>
#include <string>

#include "tools/mkdemo/live_invariant.h"

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::string why = ringolan::demo::live_inconsistency(line);
        std::printf("%s%s\n", why.empty() ? "ok" : "torn: ", why.c_str());
        std::fflush(stdout);
    }
    return 0;
}
