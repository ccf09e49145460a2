// Fuzzes the query-parameter helpers: on any query text they do not crash, every extracted value
// is a slice of at most 20 characters inside the text it came from, and whole_number either gives
// the number the trimmed text spells or throws an InputError that echoes no raw markup. With
// RINGOLAN_LIBFUZZER this is a libFuzzer target; otherwise main() runs a reproducible random loop
// over mutated seed queries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pages/page_context.h"
#include "pages/params.h"

namespace {

namespace pg = ringolan::pages;

std::string_view g_input;  // the input being checked, shown when a check fails

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "page params: %s\ninput:", what);
    for (unsigned char c : g_input) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

// `part` lies inside `whole` (an empty result may point nowhere).
void inside(std::string_view part, std::string_view whole, std::size_t max_len, const char* what) {
    if (part.size() > max_len) fail(what);
    if (part.empty()) return;
    const char* b = whole.data();
    const char* e = b + whole.size();
    if (part.data() < b || part.data() > e || part.size() > std::size_t(e - part.data())) fail(what);
}

void check_message(const pg::InputError& e) {
    const std::string_view m = e.what();
    if (m.find_first_of("<>\"'") != std::string_view::npos) fail("raw markup in the error message");
    if (m.empty()) fail("empty error message");
}

// The decimal digits of a trimmed value without sign and leading zeros ("0" for zero).
std::string canonical_digits(std::string_view v, bool& negative) {
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    negative = !v.empty() && v.front() == '-';
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) v.remove_prefix(1);
    while (v.size() > 1 && v.front() == '0') v.remove_prefix(1);
    return std::string(v);
}

void check_number(std::string_view value) {
    int64_t n = 0;
    try {
        n = pg::whole_number(value, "Startnummer");
    } catch (const pg::InputError& e) {
        check_message(e);
        return;
    }
    bool negative = false;
    const std::string digits = canonical_digits(value, negative);
    const uint64_t magnitude = n < 0 ? uint64_t(0) - uint64_t(n) : uint64_t(n);
    if (std::to_string(magnitude) != digits) fail("whole_number differs from the digits it read");
    if (n != 0 && (n < 0) != negative) fail("whole_number lost the sign");
}

void check_text(std::string_view value) {
    try {
        const std::string_view t = pg::quoted_text(value, "Name");
        if (t.data() != value.data() || t.size() != value.size()) fail("quoted_text changed its value");
        if (t.find('"') != std::string_view::npos || t.find('\0') != std::string_view::npos)
            fail("quoted_text let a quote or NUL through");
    } catch (const pg::InputError& e) {
        check_message(e);
        if (value.find('"') == std::string_view::npos && value.find('\0') == std::string_view::npos)
            fail("quoted_text refused a harmless value");
    }
}

void check_cuts(std::string_view value) {
    const std::string_view cut = pg::cut_before_amp(value);
    const std::string_view up = value.substr(0, value.find('&'));
    const std::string_view inner = pg::before_inner_amp(value);
    inside(cut, value, value.size(), "cut_before_amp out of bounds");
    inside(inner, value, value.size(), "before_inner_amp out of bounds");
    if (cut.find('&') != std::string_view::npos || up.find('&') != std::string_view::npos)
        fail("a cut value still holds an ampersand");
    // The whole value comes back when it starts with "&"; otherwise the cut holds none.
    if (!inner.starts_with('&') && inner.find('&') != std::string_view::npos)
        fail("before_inner_amp kept an inner ampersand");
    if (inner.size() != value.size() && inner.size() != up.size()) fail("before_inner_amp cut elsewhere");
    for (std::string_view v : {value, cut, up, inner}) {
        check_number(v);
        check_text(v);
    }
}

const std::string_view kKeys[] = {"NR=", "titel=", "ST=", "ID=", "=", "&", "", "wettkampf=x"};

// The first input byte chooses the key and the fallback start; the rest is the query text.
void check(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    g_input = std::string_view(reinterpret_cast<const char*>(data), size);
    const std::string_view key = kKeys[data[0] % std::size(kKeys)];
    const std::size_t fallback = data[0] >> 3;
    // A copy of its own, so that reads past the query are caught by the address sanitizer.
    const std::string owned(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string_view query = owned;

    const std::string_view values[] = {
        pg::value_after_first_equals(query),
        pg::value_after_key(query, key),
        pg::value_after_key(query, key, fallback),
        pg::param_slice(query, fallback),
    };
    for (std::string_view v : values) {
        inside(v, query, pg::kParamLength, "value outside the query or over 20 characters");
        check_cuts(v);
    }
    check_number(query);
    check_text(query);
}

}  // namespace

#include "tests/support/fuzz_loop.h"

#ifdef RINGOLAN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    check(data, size);
    return 0;
}
#else
// fuzz_page_params [RUNS [SEED]]
int main(int argc, char** argv) {
    const std::vector<std::string> seeds = {
        "NR=12",
        "titel=3&x=1",
        " -0042 ",
        "ST=+9223372036854775807",
        "wettkampf=1&NR=&a",
        "name=O\"Neil<b>&'",
        "&NR=7&&",
        "-9223372036854775808",
    };
    static const char alphabet[] = " &=+-0123456789NRST<>\"'a\x00\xff";
    return ringolan::test_support::run_mutation_loop(argc, argv, 20000, seeds,
                                                     std::string_view(alphabet, sizeof alphabet - 1), check);
}
#endif
