// Fuzzes the API's addresses and query texts against a small demo competition: no input
// crashes or throws, every answer is a JSON object with the state or a plain error, and an
// error holds no text of the request (only parsed numbers). With RINGOLAN_LIBFUZZER this is a
// libFuzzer target; otherwise main() runs a reproducible random loop over mutated seeds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/api.h"
#include "db/snapshot/snapshot_build.h"
#include "tools/mkdemo/demo.h"

namespace {

std::string_view g_input;

[[noreturn]] void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "api params: %s %s\ninput:", what, detail.c_str());
    for (unsigned char c : g_input) std::fprintf(stderr, " %02x", c);
    std::fprintf(stderr, "\n");
    std::abort();
}

const ringolan::db::Snapshot& snapshot() {
    static const std::shared_ptr<const ringolan::db::Snapshot> s = [] {
        const auto file = std::filesystem::temp_directory_path() / "ringolan_fuzz_api_demo.mdb";
        ringolan::demo::write_demo(ringolan::demo::DemoOptions{24, 3, true, 0}, file);
        ringolan::db::SnapshotInfo info;
        info.generation = 5;
        auto snap = ringolan::db::Snapshot::from_image(ringolan::db::build_snapshot_image(file), info);
        std::filesystem::remove(file);
        return snap;
    }();
    return *s;
}

// The error texts the API has, with the numbers taken out.
bool known_error(std::string message) {
    std::erase_if(message, [](char c) { return c >= '0' && c <= '9'; });
    static const std::string_view known[] = {
        "Unbekannte Adresse.",
        "Keine Liste mit der Nummer .",
        "Kein Sch\u00fctze mit der Startnummer .",
        "Kein Verein mit dieser Nummer.",
        "Ung\u00fcltige Listennummer: erwartet wird eine ganze Zahl ohne Vorzeichen.",
        "Ung\u00fcltige Startnummer: erwartet wird eine ganze Zahl ohne Vorzeichen.",
        "Der Suchtext ist zu lang (h\u00f6chstens  Zeichen).",
    };
    for (std::string_view k : known)
        if (message == k) return true;
    return false;
}

const std::string_view kPrefixes[] = {"/state", "/lists/", "/shooters/", "/clubs/", "/search", "/", "", "/lists"};

// The first byte chooses a resource prefix; the rest is the path tail, a "?" and the query.
void check(const uint8_t* data, std::size_t size) {
    if (size == 0) return;
    g_input = std::string_view(reinterpret_cast<const char*>(data), size);
    const std::string rest(g_input.substr(1));
    const size_t question = rest.find('?');
    const std::string resource = std::string(kPrefixes[data[0] % std::size(kPrefixes)]) + rest.substr(0, question);
    const std::string query = question == std::string::npos ? std::string() : rest.substr(question + 1);

    ringolan::api::Answer a;
    try {
        a = ringolan::api::answer(snapshot(), resource, query);
    } catch (const std::exception& e) {
        fail("answer threw", e.what());
    }
    const auto body = nlohmann::json::parse(a.json, nullptr, false);
    if (body.is_discarded() || !body.is_object()) fail("no JSON object", a.json);
    if (a.status == 200) {
        if (body.value("state", 0) != 5) fail("an answer without the state", a.json);
    } else if (a.status == 400 || a.status == 404) {
        if (body.size() != 1 || !body["error"].is_string() || !known_error(body["error"]))
            fail("unexpected error", a.json);
    } else {
        fail("unexpected status", std::to_string(a.status));
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
// fuzz_api_params [RUNS [SEED]]
int main(int argc, char** argv) {
    const std::vector<std::string> seeds = {
        "1",    "101",        "01207/", "?q=M%C3%BCller",       "?q=%",      "lists/3", "shooters/-1",
        "x/y/", "?q=a+b&q=c", "\"<b>",  "99999999999999999999", "?q=%zz%C3", "state//",
    };
    static const char alphabet[] = "/?&=+%-0123456789aqxC3B\"<>\x00\xc3\xfc\xff ";
    return ringolan::test_support::run_mutation_loop(argc, argv, 5000, seeds,
                                                     std::string_view(alphabet, sizeof alphabet - 1), check);
}
#endif
