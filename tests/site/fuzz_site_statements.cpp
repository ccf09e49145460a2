// Fuzzes the statement-line reader: any bytes, read in any split, end in the same statements and
// the same error (or none) without a crash. With RINGOLAN_LIBFUZZER this is a libFuzzer target;
// otherwise main() runs a reproducible random loop over mutated seed dumps.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/statement_parser.h"

namespace {

namespace st = ringolan::site;

std::string_view g_input;  // the input being checked, shown when a check fails

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "statement parser: %s\ninput:", what);
    for (unsigned char c : g_input) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

struct Outcome {
    std::vector<st::Statement> statements;
    std::optional<std::string> error;
    std::size_t error_line = 0;
};

bool same(const Outcome& a, const Outcome& b) {
    if (a.error != b.error || a.error_line != b.error_line) return false;
    if (a.statements.size() != b.statements.size()) return false;
    for (std::size_t i = 0; i < a.statements.size(); ++i) {
        const auto& x = a.statements[i];
        const auto& y = b.statements[i];
        if (x.code != y.code || x.values != y.values || x.line != y.line) return false;
    }
    return true;
}

// The dump handed over `chunk` bytes at a time (0: all at once through parse_dump).
Outcome read(std::string_view dump, std::size_t chunk) {
    Outcome out;
    auto sink = [&out](st::Statement&& s) { out.statements.push_back(std::move(s)); };
    try {
        if (chunk == 0) {
            st::parse_dump(dump, sink);
        } else {
            st::parse_dump_stream(
                [&dump, chunk](char* to, std::size_t size) {
                    const std::size_t n = std::min({size, chunk, dump.size()});
                    std::copy_n(dump.data(), n, to);
                    dump.remove_prefix(n);
                    return n;
                },
                sink);
        }
    } catch (const st::DumpError& e) {
        out.error = e.what();
        out.error_line = e.line();
    }
    return out;
}

// The first input byte chooses the split; the rest is the dump.
void check(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    g_input = std::string_view(reinterpret_cast<const char*>(data), size);
    const std::size_t chunk = 1 + data[0] % 23;
    const std::string dump(reinterpret_cast<const char*>(data + 1), size - 1);
    const Outcome whole = read(dump, 0);
    const Outcome split = read(dump, chunk);
    if (!same(whole, split)) fail("the outcome depends on how the bytes were split");
    std::size_t line = 0;
    for (const auto& s : whole.statements) {
        if (s.line <= line) fail("statement lines do not increase");
        line = s.line;
        if (s.values.size() > st::kMaxValues) fail("more values than the cap");
    }
    if (whole.error && whole.error_line < line) fail("error line before the last statement");
    try {
        const st::Statement one = st::parse_statement(dump);
        if (whole.error || whole.statements.size() != 1) fail("a single statement where the dump differs");
        if (one.code != whole.statements[0].code || one.values != whole.statements[0].values)
            fail("parse_statement differs from parse_dump");
    } catch (const st::DumpError&) {
        if (!whole.error && whole.statements.size() == 1) fail("parse_statement refused a single statement");
    }
}

}  // namespace

#include "tests/support/fuzz_loop.h"

#ifdef RINGOLAN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    check(data, size);
    return 0;
}
#else
// fuzz_site_statements [RUNS [SEED]]
int main(int argc, char** argv) {
    const std::vector<std::string> seeds = {
        "#*ix#*'17','O\\'Neil',9.8);\r\n",
        "#*isc#*12346.0,0.0,-0.3,-1,0,1.2346E+05,5e-3,+7);\n#*ic#*,'a',);\n",
        "#*iva#*'zwei\r\nZeilen','{0A1B2C3D}','');\r\n\r\n#*ic#);\r\n",
        "#*ix#*'endet mit \\','b');\n#*ix#*'it's',1);\n",
        "#*ix#*'offen\n#*ix#*1);\n",
        "\n\n#*i#*);\n",
    };
    static const char alphabet[] = "#*i'\\,();\r\n0123456789.eE+-ab\x00\xff";
    return ringolan::test_support::run_mutation_loop(argc, argv, 600, seeds,
                                                     std::string_view(alphabet, sizeof alphabet - 1), check);
}
#endif
