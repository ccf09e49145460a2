// The plain-build stand-in of a libFuzzer target: a reproducible random loop that mutates seed
// inputs (insert, erase, replace bytes from an alphabet) and hands each one to the target's check.
//   <program> [RUNS [SEED]]
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace ringolan::test_support {

using FuzzCheck = void (*)(const uint8_t* data, std::size_t size);

// The first byte of every input is random too (targets use it to choose a split).
inline int run_mutation_loop(int argc, char** argv, long default_runs, const std::vector<std::string>& seeds,
                             std::string_view alphabet, FuzzCheck check) {
    const long runs = argc > 1 ? std::atol(argv[1]) : default_runs;
    uint64_t s = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    auto next = [&s] {  // xorshift64
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    };
    for (long i = 0; i < runs; ++i) {
        std::string bytes = seeds[next() % seeds.size()];
        const int edits = int(next() % 6);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = bytes.empty() ? 0 : next() % bytes.size();
            const char c = alphabet[next() % alphabet.size()];
            switch (next() % 3) {
                case 0: bytes.insert(bytes.begin() + long(at), c); break;
                case 1: if (!bytes.empty()) bytes.erase(at, 1); break;
                default: if (!bytes.empty()) bytes[at] = c;
            }
        }
        std::string input(1, char(next()));
        input += bytes;
        check(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    }
    std::printf("%ld inputs, no fault\n", runs);
    return 0;
}

}  // namespace ringolan::test_support
